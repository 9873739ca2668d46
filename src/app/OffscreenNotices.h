#pragma once

namespace orvek::app {

/// Drops the notices Qt prints when drawing without a display (window raising and size hints
/// the offscreen platform cannot do, a missing runtime folder), which say nothing about the
/// drawing itself; every other message still reaches the previous handler.
void silenceOffscreenNotices();

} // namespace orvek::app
