#pragma once

class MessageSeam;
class QWidget;
class Station;

// Before the program ends: the station's outbox is given up to ten seconds
// to reach the broker, with a box that shows what is left and can be
// skipped; then, unless `quiet` (nobody is there to read it), the operator is
// told how many readings stay for the next start.
void FinishPublishing(Station &station, MessageSeam &messages, QWidget *owner, bool quiet);
