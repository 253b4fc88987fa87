#pragma once

#include <functional>

class QObject;

// From now on SIGTERM, SIGHUP and SIGINT (logout, shutdown, Ctrl+C) end
// nothing by themselves: each calls handler with the signal's number on the
// thread of context, from its event loop. A signal that comes before the
// loop runs waits for it.
void CatchExitSignals(QObject *context, std::function<void(int signal)> handler);
