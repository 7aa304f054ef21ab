#pragma once

struct LineStatus;
class QLineEdit;

// Marks the temperature box while the line is not live, so that nobody takes
// the last value for a live one: red text, and a tooltip that says why (no
// frame for N seconds, or no device) and how many bytes of the run were no
// frame. A live line gets the usual text colour back.
void ShowLineStatus(QLineEdit &temperature, const LineStatus &status);
