// The message box seam. Failures the user must see are shown where they are found, in a modal
// box with an OK button only, no icon, and the application title as caption. The viewer routes
// them to the toolkit's box, the grab command to standard error, tests to a recorder.
#pragma once

#include <functional>
#include <string>
#include <string_view>

inline constexpr std::string_view kAppTitle = "Quorlin";  // captions every message box

using MessageBoxHandler = std::function<void(const std::string& text)>;

// Returns the handler it replaces; an empty handler restores the default (standard error).
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// Shows the text and returns when the user has closed the box.
void MsgBox(const std::string& text);
