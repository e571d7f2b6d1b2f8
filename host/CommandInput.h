// Layer 2, command input: the source prompts read from, the lines queued ahead of
// it, and reading the next line for a prompt. Calls only command output below it.
// Main thread only.
#pragma once

#include "host/InputSource.h"

#include <deque>
#include <functional>

namespace host {

// Lines fed to the prompts ahead of the input source: answers that followed a command
// name, the answers code gave with a command, the lines of a string sent for execution.
struct InputQueue {
    std::deque<InputLine> lines;
    // Above 0 while a command runs on given answers only (acedCommand): a prompt that
    // finds no line left is cancelled instead of asking the user.
    int answersOnly = 0;
};

// Installs the source prompts read when nothing is queued (not owned; null = no
// input: prompts then end as cancelled).
InputSource* setInputSource(InputSource* source);
InputSource* inputSource();

// Where the queue of whatever is current lives; the command line keeps one per
// document and installs the lookup. Without a lookup, or when it answers null,
// nothing is queued.
using InputQueueLookup = InputQueue* (*)();
void setInputQueueLookup(InputQueueLookup lookup);
InputQueue* currentInputQueue();

// Prints `prompt` and returns the next input line: the current queue's first, then
// the input source's. Echoes lines that ask for it. A line ending the input is
// returned as End (callers treat it as a cancel).
InputLine readInputLine(const char* prompt);
// The same with the prompt printed only when `showPrompt`; while it waits on the
// source it returns Interrupted as soon as `interrupted` (may be empty) turns true
// with nothing queued.
InputLine readInputLine(const char* prompt, bool showPrompt, const std::function<bool()>& interrupted);

}  // namespace host
