// The exports' own logic (handles, results, fatal paths, the volume and loop
// mappings) against a scripted graph manager, through their C signatures.
#include <SDL.h>
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <utility>

#include "movie/cinelink.h"
#include "platform/com/unknown.h"
#include "platform/win32/errors.h"
#include "scripted_graph.h"

namespace movietest {
ScriptedGraph::Script ScriptedGraph::script;
std::atomic<int> ScriptedGraph::liveGraphs{0};
}  // namespace movietest

namespace {

using movietest::ScriptedGraph;

class Exports : public testing::Test {
 protected:
  void SetUp() override {
    setenv("CINELINK_NO_DIALOG", "1", 1);
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0);
    ASSERT_NE(SDL_SetVideoMode(64, 48, 32, SDL_SWSURFACE), nullptr);
    StandInRegisterClass(CLSID_FilterGraph, &ScriptedGraph::Create);
    ScriptedGraph::script = ScriptedGraph::Script{};
  }
  void TearDown() override { SDL_Quit(); }
  static int Load() { return Movie_Load_UTF8(L"scripted.mp4", 64, 48); }
};

TEST_F(Exports, VolumeMapsPercentToHundredthsOfADecibel) {
  const int movie = Load();
  const int volumes[] = {100, 150, 0, -5, INT_MAX, INT_MIN, 50, 99, 1};
  for (int v : volumes) EXPECT_TRUE(Movie_SetVolume(movie, v));
  EXPECT_EQ((std::vector<LONG>{0, 0, -10000, -10000, 0, -10000, -5000, -100, -9900}),
            ScriptedGraph::script.volumes);
  EXPECT_TRUE(Movie_Release(movie));
}

TEST_F(Exports, GraphWithoutTheAudioInterfaceFailsTheLoad) {
  ScriptedGraph::script.offerAudio = false;
  EXPECT_EXIT(Load(), testing::ExitedWithCode(0), "Movie_Load failed with error 0");
}

TEST_F(Exports, PlayAcceptsOkAndFalseOnly) {
  const int movie = Load();
  ScriptedGraph::script.runResult = S_FALSE;
  EXPECT_TRUE(Movie_Play(movie));
  ScriptedGraph::script.runResult = VFW_S_STATE_INTERMEDIATE;
  EXPECT_EXIT(Movie_Play(movie), testing::ExitedWithCode(0), "Movie_Play failed with error 0");
  EXPECT_TRUE(Movie_Release(movie));
}

TEST_F(Exports, PauseIsTrueOnlyForOk) {
  const int movie = Load();
  EXPECT_TRUE(Movie_Pause(movie));
  ScriptedGraph::script.pauseResult = S_FALSE;  // still under way
  EXPECT_FALSE(Movie_Pause(movie));
  ScriptedGraph::script.pauseResult = E_FAIL;
  EXPECT_FALSE(Movie_Pause(movie));
  EXPECT_TRUE(Movie_Release(movie));
}

TEST_F(Exports, StopRewindsOnlyAfterASuccessfulStop) {
  const int movie = Load();
  EXPECT_TRUE(Movie_Stop(movie));
  EXPECT_EQ(std::vector<double>{0.0}, ScriptedGraph::script.positions);
  ScriptedGraph::script.positionResult = S_FALSE;
  EXPECT_FALSE(Movie_Stop(movie));
  ScriptedGraph::script.stopResult = E_FAIL;
  EXPECT_FALSE(Movie_Stop(movie));
  EXPECT_EQ(2u, ScriptedGraph::script.positions.size());
  ScriptedGraph::script.stopResult = S_OK;
  EXPECT_TRUE(Movie_Release(movie));
}

TEST_F(Exports, ResetFailuresEndTheProcess) {
  const int movie = Load();
  EXPECT_TRUE(Movie_Reset(movie));
  EXPECT_EQ(1, ScriptedGraph::script.runs);
  ScriptedGraph::script.positionResult = E_FAIL;
  EXPECT_EXIT(Movie_Reset(movie), testing::ExitedWithCode(0), "Movie_Reset failed");
  ScriptedGraph::script.positionResult = S_OK;
  ScriptedGraph::script.runResult = E_FAIL;
  EXPECT_EXIT(Movie_Reset(movie), testing::ExitedWithCode(0), "Movie_Reset failed");
  ScriptedGraph::script.runResult = S_OK;
  EXPECT_TRUE(Movie_Release(movie));
}

TEST_F(Exports, StateWaitsAndMapsTheGraphState) {
  const int movie = Load();
  const LONG states[] = {State_Running, State_Stopped, State_Paused, 7, -1};
  const int codes[] = {0, 1, 2, 3, 3};
  for (int i = 0; i < 5; ++i) {
    ScriptedGraph::script.state = states[i];
    EXPECT_EQ(codes[i], Movie_GetState(movie));
  }
  EXPECT_EQ(static_cast<LONG>(INFINITE), ScriptedGraph::script.stateTimeouts.back());
  ScriptedGraph::script.getStateResult = VFW_S_STATE_INTERMEDIATE;
  EXPECT_EXIT(Movie_GetState(movie), testing::ExitedWithCode(0), "Movie_GetState failed");
  ScriptedGraph::script.getStateResult = S_OK;
  EXPECT_TRUE(Movie_Release(movie));
}

TEST_F(Exports, RepetitiveFlagReadsTheLowByteOnly) {
  const int movie = Load();
  auto &script = ScriptedGraph::script;
  // Low byte 0: the end of the movie stops and rewinds it.
  Movie_SetRepetitive(movie, 256);
  script.pendingCompletions = 1;
  Movie_CheckVideoStatus(movie);
  EXPECT_EQ(1, script.stops);
  // Low byte 255, or any other non-zero byte: it only rewinds and keeps running.
  for (int flag : {255, 1, 0x7F01, -1}) {
    script.stops = 0;
    script.positions.clear();
    Movie_SetRepetitive(movie, flag);
    script.pendingCompletions = 2;
    Movie_CheckVideoStatus(movie);
    EXPECT_EQ(0, script.stops) << flag;
    EXPECT_EQ((std::vector<double>{0.0, 0.0}), script.positions) << flag;
  }
  // The graph is told each time, so that it can prepare the ends for loops.
  EXPECT_EQ((std::vector<BOOL>{FALSE, TRUE, TRUE, TRUE, TRUE}), script.loopHints);
  EXPECT_TRUE(Movie_Release(movie));
}

TEST_F(Exports, FailedRenderEndsTheLoadWithTheGraphsError) {
  ScriptedGraph::script.renderResult = VFW_E_UNKNOWN_FILE_TYPE;
  EXPECT_EXIT(Load(), testing::ExitedWithCode(ERROR_BAD_FORMAT),
              "Movie_Load failed with error 11: ");
}

TEST_F(Exports, PartialRenderingStillLoadsAFullMovie) {
  for (HRESULT partial : {VFW_S_PARTIAL_RENDER, VFW_S_AUDIO_NOT_RENDERED}) {
    ScriptedGraph::script.renderResult = partial;
    const int movie = Load();
    EXPECT_TRUE(Movie_Play(movie) && Movie_SetVolume(movie, 50) && Movie_Release(movie));
  }
  EXPECT_EQ((std::vector<LONG>{-5000, -5000}), ScriptedGraph::script.volumes);
}

TEST_F(Exports, NoGraphOrARefusedRendererEndsTheLoad) {
  ScriptedGraph::script.addFilterResult = E_OUTOFMEMORY;
  EXPECT_EXIT(Load(), testing::ExitedWithCode(ERROR_NOT_ENOUGH_MEMORY), "with error 8: ");
  StandInRegisterClass(CLSID_FilterGraph, [](IUnknown *, REFIID, void **) -> HRESULT {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return REGDB_E_CLASSNOTREG;
  });
  EXPECT_EXIT(Load(), testing::ExitedWithCode(ERROR_MOD_NOT_FOUND), "with error 126: ");
}

TEST_F(Exports, NullPathEndsEitherLoadWithAReport) {
  EXPECT_EXIT(Movie_Load(nullptr, 64, 48), testing::ExitedWithCode(ERROR_INVALID_PARAMETER),
              "Movie_Load failed with error 87: ");
  EXPECT_EXIT(
      {
        SetLastError(0);
        Movie_Load_UTF8(nullptr, 64, 48);
      },
      testing::ExitedWithCode(ERROR_INVALID_PARAMETER), "Movie_Load failed with error 87: ");
}

TEST_F(Exports, LoadsThatCouldShowNoPictureEndWithAReport) {
  // Sizes SDL cannot make a 32-bit surface of: its pitch is 16 bits.
  const std::pair<int, int> sizes[] = {{0, 48}, {64, -1}, {16384, 48}, {INT_MAX, 1}, {16383, 40000}};
  for (const auto &[width, height] : sizes) {
    EXPECT_EXIT(Movie_Load_UTF8(L"scripted.mp4", width, height),
                testing::ExitedWithCode(ERROR_INVALID_PARAMETER),
                "Movie_Load failed with error 87: The parameter is incorrect.")
        << width << "x" << height;
  }
  EXPECT_TRUE(Movie_Release(Movie_Load_UTF8(L"scripted.mp4", 16383, 1)));
  // No 32-bit video mode to take the display format from.
  ASSERT_NE(SDL_SetVideoMode(64, 48, 16, SDL_SWSURFACE), nullptr);
  EXPECT_EXIT(Load(), testing::ExitedWithCode(ERROR_NOT_READY),
              "Movie_Load failed with error 21: The device is not ready.");
  SDL_Quit();
  EXPECT_EXIT(Load(), testing::ExitedWithCode(ERROR_NOT_READY), "with error 21: ");
}

TEST_F(Exports, LoadsOnAWorkerThreadWhileThisOneLooksUpMovies) {
  const int first = Load();
  std::atomic<bool> loading{true};
  std::thread worker([&] {
    for (int k = 0; k < 200; ++k) Load();  // the table grows meanwhile
    loading = false;
  });
  while (loading) EXPECT_EQ(Movie_GetState(first), 1);
  worker.join();
  EXPECT_EQ(Movie_GetState(first + 200), 1);
  EXPECT_EQ(Movie_GetState(first + 201), 3);
}

TEST_F(Exports, ReleaseDropsTheGraphAndTheHandleForGood) {
  const int before = ScriptedGraph::liveGraphs;
  const int movie = Load();
  EXPECT_EQ(before + 1, ScriptedGraph::liveGraphs);
  EXPECT_TRUE(Movie_Release(movie));
  EXPECT_EQ(before, ScriptedGraph::liveGraphs);
  EXPECT_FALSE(Movie_Release(movie));
  EXPECT_EQ(3, Movie_GetState(movie));
  EXPECT_EQ(movie + 1, Load());
}

TEST_F(Exports, TheVoidExportsLeaveLiveMoviesAloneOnAnInvalidHandle) {
  const int live = Load();
  ScriptedGraph::script.pendingCompletions = 1;
  for (int invalid : {-1, live + 1, INT_MAX}) {
    Movie_SetRepetitive(invalid, 1);
    Movie_CheckVideoStatus(invalid);
    EXPECT_EQ(-1.0, Movie_GetDuration(invalid));
    EXPECT_EQ(-1.0, Movie_GetPosition(invalid));
    EXPECT_FALSE(Movie_SetPosition(invalid, 0.5));
    int width = 7;
    int height = 7;
    EXPECT_FALSE(Movie_GetVideoSize(invalid, &width, &height));
    EXPECT_EQ(7, width);
    EXPECT_EQ(7, height);
    EXPECT_FALSE(Movie_HasSound(invalid));
  }
  EXPECT_TRUE(ScriptedGraph::script.positions.empty());
  EXPECT_EQ(1, ScriptedGraph::script.pendingCompletions);  // the queue untouched
  Movie_CheckVideoStatus(live);  // still not repetitive: its end stops it
  EXPECT_EQ(1, ScriptedGraph::script.stops);
  EXPECT_TRUE(Movie_Release(live));
}

TEST_F(Exports, SetPositionClampsToTheMovieAndCuesAStoppedOneBeforeStoppingIt) {
  const int movie = Load();
  auto &script = ScriptedGraph::script;
  struct Case {
    double asked;
    double sent;
  } cases[] = {{0.75, 0.75}, {-3.0, 0.0}, {2.0, 2.0 - 1e-7}, {1e300, 2.0 - 1e-7}};
  script.state = State_Running;
  for (const Case &c : cases) {
    script.positions.clear();
    EXPECT_TRUE(Movie_SetPosition(movie, c.asked)) << c.asked;
    ASSERT_EQ(1u, script.positions.size());
    EXPECT_DOUBLE_EQ(c.sent, script.positions[0]) << c.asked;
  }
  EXPECT_FALSE(Movie_SetPosition(movie, std::nan("")));
  EXPECT_EQ(0, script.pauses);  // a running movie jumps on the running clock

  // Stopped: paused until the picture there is in, reported as stopped all along.
  script.state = State_Stopped;
  script.getStateResult = VFW_S_STATE_INTERMEDIATE;
  EXPECT_TRUE(Movie_SetPosition(movie, 1.0));
  EXPECT_EQ(1, script.pauses);
  script.state = State_Paused;
  EXPECT_EQ(1, Movie_GetState(movie));
  Movie_CheckVideoStatus(movie);
  EXPECT_EQ(0, script.stops);
  script.getStateResult = S_OK;  // the picture is in: stopped for real
  Movie_CheckVideoStatus(movie);
  EXPECT_EQ(1, script.stops);
  script.state = State_Stopped;
  EXPECT_EQ(1, Movie_GetState(movie));
  // A play while the picture is being cued plays from the paused graph.
  script.state = State_Stopped;
  EXPECT_TRUE(Movie_SetPosition(movie, 1.5));
  EXPECT_TRUE(Movie_Play(movie));
  script.state = State_Running;
  EXPECT_EQ(0, Movie_GetState(movie));
  EXPECT_EQ(1, script.stops);
  EXPECT_EQ(2.0, Movie_GetDuration(movie));
  EXPECT_EQ(0.5, Movie_GetPosition(movie));
  EXPECT_FALSE(Movie_HasSound(movie));  // a graph that does not say plays none
  EXPECT_TRUE(Movie_Release(movie));
}

}  // namespace
