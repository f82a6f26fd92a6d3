// What the tests put behind the toolkit's seams: the message box, the error box and the end of
// the program are recorded instead of shown or carried out.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "msgbox.h"
#include "program.h"

class SeamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tk::ResetProgramEnd();
    previousEnd_ = tk::SetEndHandler([this](int status) { ends.push_back(status); });
    previousError_ = tk::SetErrorBoxHandler([this](const std::string& t) { errors.push_back(t); });
    previousMessage_ =
        SetMessageBoxHandler([this](const std::string& t) { messages.push_back(t); });
  }
  void TearDown() override {
    tk::SetEndHandler(previousEnd_);
    tk::SetErrorBoxHandler(previousError_);
    SetMessageBoxHandler(previousMessage_);
    tk::ResetProgramEnd();
  }

  std::vector<int> ends;  // statuses passed to End
  std::vector<std::string> errors, messages;

 private:
  tk::EndHandler previousEnd_;
  tk::ErrorBoxHandler previousError_;
  MessageBoxHandler previousMessage_;
};
