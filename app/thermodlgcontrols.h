#pragma once

// The main dialog's template and its controls' ids.
namespace thermodlg {

constexpr int kTemplateId = 102;
constexpr int kStartButton = 1;
constexpr int kCancelButton = 2;
constexpr int kSettingsButton = 1000;
constexpr int kFolderButton = 1002;
constexpr int kFolderEdit = 1003;
constexpr int kCommentEdit = 1005;
constexpr int kChartButton = 1006;
constexpr int kMinTEdit = 1024;
constexpr int kMaxTEdit = 1025;
constexpr int kTemperatureEdit = 1026;
constexpr int kStopButton = 1029;

} // namespace thermodlg
