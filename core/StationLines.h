#pragma once

// The station drives eight lines: 0..7 between the tool and its engine,
// 1..8 on the window. The tool and the engines size their tables by it.
constexpr int kLines = 8;
