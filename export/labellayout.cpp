#include "labellayout.h"

#include <algorithm>
#include <utility>

std::vector<LabelPlace> LayOutLabels(const std::vector<LabelRequest> &labels, double areaLeft, double areaRight,
                                     int rows, double gap)
{
    std::vector<LabelPlace> places(labels.size());
    // The spans taken in each row.
    std::vector<std::vector<std::pair<double, double>>> taken(size_t(std::max(rows, 0)));
    const auto fits = [&](const std::vector<std::pair<double, double>> &row, double left, double right) {
        return std::none_of(row.begin(), row.end(), [&](const auto &span) {
            return left < span.second + gap && right + gap > span.first;
        });
    };
    for (size_t i = 0; i < labels.size(); ++i) {
        const double width = std::min(labels[i].width, areaRight - areaLeft);
        const double x = labels[i].x;
        // Beside the tick on its right, or on its left; pushed inside the area.
        const double candidates[2] = {std::clamp(x + 2, areaLeft, areaRight - width),
                                      std::clamp(x - 2 - width, areaLeft, areaRight - width)};
        for (size_t row = 0; row < taken.size() && places[i].row < 0; ++row) {
            for (double left : candidates) {
                if (fits(taken[row], left, left + width)) {
                    places[i] = {int(row), left};
                    taken[row].emplace_back(left, left + width);
                    break;
                }
            }
        }
    }
    return places;
}
