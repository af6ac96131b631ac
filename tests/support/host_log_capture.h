// Captures what the services report through the error log, for the
// duration of one scope.
#ifndef TKPIXMAP_TESTS_SUPPORT_HOST_LOG_CAPTURE_H
#define TKPIXMAP_TESTS_SUPPORT_HOST_LOG_CAPTURE_H

#include <mutex>
#include <string>
#include <vector>

namespace tkpixmap::testing {

struct LoggedMessage {
  int severity;  // ELOG_LOG, ELOG_COMPLAIN or ELOG_DIE
  std::string text;
};

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  std::vector<LoggedMessage> messages() const;
  // Number of messages of that severity whose text begins with prefix.
  int count(int severity, const std::string &prefix) const;
  std::string all() const;  // every text, one a line, for failure output

 private:
  static void receive(int severity, const char *message, void *context);
  mutable std::mutex lock_;
  std::vector<LoggedMessage> messages_;
};

}  // namespace tkpixmap::testing

#endif
