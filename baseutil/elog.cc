// elog.cc - the error log: "program: message" lines on standard error, or
// to a sink that tests install to capture them.

#include <errno.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "baseutil.h"
#include "baseutil/mutex_lock.h"

extern "C" char *program_invocation_short_name;  // glibc

namespace {

using tkpixmap::MutexLock;

// The sink, its context and the program name are set and read by any
// thread under sinkLock (the innermost lock: baseutil/mutex_lock.h).
pthread_mutex_t sinkLock = PTHREAD_MUTEX_INITIALIZER;
ElogSink sink = nullptr;
void *sinkContext = nullptr;
char programName[64];

// Formats one message (with the errno text when flag is 1) and hands it to
// the sink or writes it whole with one write(2), so lines from several
// threads never interleave.
void emit(int severity, int flag, const char *format, va_list args) {
  int savedErrno = errno;
  char message[2048];
  int length = vsnprintf(message, sizeof message, format, args);
  if (length < 0) length = 0;
  if (length >= static_cast<int>(sizeof message)) length = sizeof message - 1;
  while (length > 0 && message[length - 1] == '\n') message[--length] = '\0';
  if (flag == 1) {
    char reason[256];
    const char *text = strerror_r(savedErrno, reason, sizeof reason);
    snprintf(message + length, sizeof message - static_cast<size_t>(length), ": %s", text);
  }

  ElogSink current;
  void *context;
  // A copy: elog_set_program may rewrite the name while this line is written.
  char program[256];
  {
    MutexLock lock(sinkLock);
    current = sink;
    context = sinkContext;
    snprintf(program, sizeof program, "%s",
             programName[0] != '\0' ? programName : program_invocation_short_name);
  }

  if (current != nullptr) {
    current(severity, message, context);
  } else {
    char line[2200];
    int lineLength = snprintf(line, sizeof line, "%s: %s\n", program, message);
    if (lineLength >= static_cast<int>(sizeof line)) lineLength = sizeof line - 1;
    if (lineLength > 0) {
      ssize_t ignored = write(STDERR_FILENO, line, static_cast<size_t>(lineLength));
      (void)ignored;
    }
  }
  errno = savedErrno;
}

}  // namespace

extern "C" {

void elog_log(int flag, const char *format, ...) {
  va_list args;
  va_start(args, format);
  emit(ELOG_LOG, flag, format, args);
  va_end(args);
}

void elog_complain(int flag, const char *format, ...) {
  va_list args;
  va_start(args, format);
  emit(ELOG_COMPLAIN, flag, format, args);
  va_end(args);
}

void elog_die(int flag, const char *format, ...) {
  va_list args;
  va_start(args, format);
  emit(ELOG_DIE, flag, format, args);
  va_end(args);
  exit(1);
}

void elog_set_sink(ElogSink newSink, void *context) {
  MutexLock lock(sinkLock);
  sink = newSink;
  sinkContext = context;
}

void elog_set_program(const char *name) {
  MutexLock lock(sinkLock);
  snprintf(programName, sizeof programName, "%s", name != nullptr ? name : "");
}

}  // extern "C"
