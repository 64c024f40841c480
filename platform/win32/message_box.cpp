#include "platform/win32/process.h"

#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32/utf8.h"

namespace {

// Runs a dialog helper and waits until the user has closed it. With `input`,
// the text is handed over on the helper's standard input (through a socket, so
// a helper that goes away early cannot kill us with SIGPIPE). False when the
// helper could not be started.
bool RunHelper(const char *const argv[], const std::string *input) {
  int channel[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0) {
      posix_spawn_file_actions_destroy(&actions);
      return false;
    }
    posix_spawn_file_actions_adddup2(&actions, channel[1], STDIN_FILENO);
  }
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, argv[0], &actions, nullptr,
                                 const_cast<char *const *>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (input) close(channel[1]);
  if (error != 0) {
    if (input) close(channel[0]);
    return false;
  }
  if (input) {
    size_t sent = 0;
    while (sent < input->size()) {
      const ssize_t n = send(channel[0], input->data() + sent, input->size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    close(channel[0]);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  // A helper that exec'd but could not reach the display counts as not shown.
  return !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
}

bool IsAscii(const std::string &text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

void ShowDialog(const std::string &caption, const std::string &text) {
  const std::string title = "--title=" + caption;
  const std::string body = "--text=" + text;
  const char *const zenity[] = {"zenity", "--error", "--no-markup", title.c_str(), body.c_str(),
                                nullptr};
  if (RunHelper(zenity, nullptr)) return;
  // xmessage draws with core X fonts, which turn anything beyond ASCII into boxes:
  // such a text stays on stderr alone.
  if (!IsAscii(caption) || !IsAscii(text)) return;
  const char *const xmessage[] = {"xmessage", "-center", "-title", caption.c_str(),
                                  "-buttons", "OK:0", "-default", "OK", "-file", "-", nullptr};
  const std::string lines = text + "\n";
  RunHelper(xmessage, &lines);
}

bool DialogWanted() {
  const char *display = std::getenv("DISPLAY");
  return display && *display && !std::getenv("CINELINK_NO_DIALOG");
}

}  // namespace

int MessageBoxW(HWND window, LPCWSTR text, LPCWSTR caption, UINT type) {
  std::string textUtf8 = standin::WideToUtf8(text ? text : L"");
  const std::string captionUtf8 = standin::WideToUtf8(caption ? caption : L"Error");
  // System texts end in a line break; neither the stderr line nor the dialog keeps it.
  while (!textUtf8.empty() && (textUtf8.back() == '\n' || textUtf8.back() == '\r')) {
    textUtf8.pop_back();
  }
  std::fprintf(stderr, "%s: %s\n", captionUtf8.c_str(), textUtf8.c_str());
  std::fflush(stderr);
  if (DialogWanted()) ShowDialog(captionUtf8, textUtf8);
  return IDOK;
}
