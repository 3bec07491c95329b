#pragma once

// The process-wide request to stop. Work that holds the event loop's thread for long (a transfer
// in progress) cannot hear a stop through the event loop, so it asks this instead: the handler of
// SIGTERM and SIGINT sets it itself (TProcessSignals), and so does the window when it closes.
// Once set it stays set: the process is on its way out.

// Async-signal-safe.
void RequestProcessStop() noexcept;
bool ProcessStopRequested() noexcept;
