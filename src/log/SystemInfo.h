#pragma once

class LogSink;

// Writes the block that describes this machine: program, folders, processor,
// memory, system, names, uptime. Written at exit after an exception was
// reported, so the saved log tells where it happened.
void LogSystemInfo(LogSink &log);
