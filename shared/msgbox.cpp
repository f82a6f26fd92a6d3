#include "msgbox.h"

#include <cstdio>
#include <utility>

namespace {
MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
}
}  // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  return std::exchange(Handler(), std::move(handler));
}

void MsgBox(const std::string& text) {
  if (Handler()) {
    Handler()(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}
