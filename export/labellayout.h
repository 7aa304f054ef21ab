#pragma once

#include <vector>

// Where the labels of ticks along a time axis go so that none covers another
// and none leaves the area: each beside its tick (to the right, or to the
// left where the right would leave the area), in the first of `rows` rows
// where it touches no label placed before it. Ticks come in the order of
// their x; a label that finds no room is left out (its tick stays).
struct LabelRequest
{
    double x = 0;     // the tick
    double width = 0; // the label's, already cut to at most the area's width
};

struct LabelPlace
{
    int row = -1;     // -1: no room, not shown
    double left = 0;
};

std::vector<LabelPlace> LayOutLabels(const std::vector<LabelRequest> &labels, double areaLeft, double areaRight,
                                     int rows, double gap = 4);
