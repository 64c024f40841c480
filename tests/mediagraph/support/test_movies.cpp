#include "tests/mediagraph/support/test_movies.h"

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace mediagraph_test {

namespace {

int CountEntries(const char *dirPath) {
  int n = 0;
  if (DIR *dir = opendir(dirPath)) {
    while (dirent *entry = readdir(dir)) n += entry->d_name[0] != '.';
    closedir(dir);
  }
  return n;
}

// geq expression: the marker block, else one value per quadrant.
std::string Channel(int topLeft, int topRight, int bottomLeft, int bottomRight) {
  auto v = [](int x) { return std::to_string(x); };
  return "if(lt(X,16)*lt(Y,16),mod(N*8,256),if(lt(Y,H/2),if(lt(X,W/2)," + v(topLeft) + "," +
         v(topRight) + "),if(lt(X,W/2)," + v(bottomLeft) + "," + v(bottomRight) + ")))";
}

// No sound card where the tests run: OpenAL plays into nothing unless the caller
// chose a driver.
const bool soundDriverChosen = setenv("ALSOFT_DRIVERS", "null", 0) == 0;

}  // namespace

TempDir::TempDir() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "mediagraph-test-XXXXXX").string();
  if (mkdtemp(pattern.data())) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::string MakeMovie(const TempDir &dir, const MovieSpec &recipe) {
  const std::string path = dir.Path() + "/" + recipe.file;
  const double seconds = double(recipe.frames) / recipe.fps;
  std::string command = std::string(FFMPEG_COMMAND) + " -hide_banner -loglevel error -nostdin -y";
  command += " -f lavfi -i \"color=c=black:s=" + std::to_string(recipe.width) + "x" +
             std::to_string(recipe.height) + ":r=" + std::to_string(recipe.fps) +
             ",format=rgb24,geq=r='" + Channel(255, 0, 0, 255) + "':g='" +
             Channel(0, 255, 0, 255) + "':b='" + Channel(0, 0, 255, 255) + "'\"";
  if (!recipe.audioArgs.empty()) {
    command += " -f lavfi -i \"sine=frequency=440:sample_rate=44100\"";
  }
  // A length rather than a picture count: ffmpeg ends the whole file when one
  // stream reaches its count, which would cut the sound short.
  command += " -t " + std::to_string(seconds) + " " + recipe.videoArgs;
  if (!recipe.audioArgs.empty()) command += " " + recipe.audioArgs;
  command += " " + recipe.extraArgs + " \"" + path + "\" > /dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return "";
  return path;
}

std::string MakeMovieWith(const TempDir &dir, const std::string &name,
                          const std::string &arguments) {
  const std::string path = dir.Path() + "/" + name;
  const std::string command = std::string(FFMPEG_COMMAND) +
                              " -hide_banner -loglevel error -nostdin -y " + arguments + " \"" +
                              path + "\" > /dev/null 2>&1";
  return std::system(command.c_str()) == 0 ? path : "";
}

std::string WriteFile(const TempDir &dir, const std::string &name, const std::string &bytes) {
  const std::string path = dir.Path() + "/" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::wstring Wide(const std::string &path) { return std::wstring(path.begin(), path.end()); }

Point MarkerPoint() { return {8, 8}; }
Point TopLeft(const MovieSpec &recipe) { return {recipe.width / 4 + 8, recipe.height / 4 + 4}; }
Point TopRight(const MovieSpec &recipe) { return {recipe.width * 3 / 4, recipe.height / 4}; }
Point BottomLeft(const MovieSpec &recipe) { return {recipe.width / 4, recipe.height * 3 / 4}; }
Point BottomRight(const MovieSpec &recipe) { return {recipe.width * 3 / 4, recipe.height * 3 / 4}; }

int MarkerFrame(const Bgr &c) {
  if (std::abs(c.r - c.g) > 16 || std::abs(c.g - c.b) > 16) return -1;
  return ((c.r + c.g + c.b) / 3 + 4) / 8;
}

bool Near(const Bgr &c, int r, int g, int b, int tolerance) {
  return std::abs(c.r - r) <= tolerance && std::abs(c.g - g) <= tolerance &&
         std::abs(c.b - b) <= tolerance;
}

int ThreadCount() { return CountEntries("/proc/self/task"); }

std::vector<std::string> ThreadsNamed(const std::string &name) {
  std::vector<std::string> found;
  DIR *dir = opendir("/proc/self/task");
  while (dirent *entry = dir ? readdir(dir) : nullptr) {
    std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
    std::string named;
    if (std::getline(comm, named) && named == name) found.push_back(entry->d_name);
  }
  if (dir) closedir(dir);
  return found;
}

int SettledThreadCount() {
  int threads = ThreadCount();
  for (int waited = 0, steady = 0; waited < 2000 && steady < 100; waited += 10) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const int now = ThreadCount();
    steady = now == threads ? steady + 10 : 0;
    threads = now;
  }
  return threads;
}

int ThreadCountOnceBackTo(int threads) {
  for (int waited = 0; waited < 2000 && ThreadCount() > threads; waited += 10) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return ThreadCount();
}
int OpenFileCount() { return CountEntries("/proc/self/fd"); }

}  // namespace mediagraph_test
