// Captures the error log through its sink.
#include "tests/support/host_log_capture.h"

#include "baseutil.h"

namespace tkpixmap::testing {

LogCapture::LogCapture() { elog_set_sink(&LogCapture::receive, this); }
LogCapture::~LogCapture() { elog_set_sink(nullptr, nullptr); }

void LogCapture::receive(int severity, const char *message, void *context) {
  auto *self = static_cast<LogCapture *>(context);
  std::lock_guard<std::mutex> hold(self->lock_);
  self->messages_.push_back({severity, message});
}

std::vector<LoggedMessage> LogCapture::messages() const {
  std::lock_guard<std::mutex> hold(lock_);
  return messages_;
}

int LogCapture::count(int severity, const std::string &prefix) const {
  std::lock_guard<std::mutex> hold(lock_);
  int found = 0;
  for (const LoggedMessage &message : messages_)
    if (message.severity == severity && message.text.rfind(prefix, 0) == 0) ++found;
  return found;
}

std::string LogCapture::all() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::string text;
  for (const LoggedMessage &message : messages_) text += message.text + "\n";
  return text;
}

}  // namespace tkpixmap::testing
