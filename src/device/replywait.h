#pragma once

#include <QString>
#include <algorithm>

// How long both programs wait for a device's reply to a frame before they tell that none came,
// from the moment the frame has left; the command line's --wait changes it for one run.
inline constexpr int replyWaitMs = 2000;

// A device answers each frame once, but not always within the wait. When a frame's reply has not
// come within its wait, the next frame goes out only once the line has been quiet this long: a
// reply in that time is the late reply of the frame before, never the next frame's answer. As
// long as the wait itself, within 0.1 to 2 s.
constexpr int quietAfterNoReplyMs(int waitMs) { return std::clamp(waitMs, 100, 2000); }

// The words for a frame whose reply did not come within waitMs.
inline QString noReplyText(int waitMs) {
  return QStringLiteral("%1 秒内没有回复。No reply within %1 s.")
      .arg(QString::number(waitMs / 1000.0));
}
