// The exports' own logic (handles, results, fatal paths, the volume and loop
// mappings) against a scripted graph manager, through their C signatures.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include "movie/cinelink.h"
#include "movie/graph_releaser.h"
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
    StandInRegisterClass(CLSID_FilterGraph, &ScriptedGraph::Create);
    ScriptedGraph::script = ScriptedGraph::Script{};
  }
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

TEST_F(Exports, ReleaseDropsTheGraphAndTheHandleForGood) {
  const int before = ScriptedGraph::liveGraphs;
  const int movie = Load();
  EXPECT_EQ(before + 1, ScriptedGraph::liveGraphs);
  EXPECT_TRUE(Movie_Release(movie));
  GraphReleaser::Drain();  // the graph goes on the releasing thread
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
  }
  EXPECT_EQ(1, ScriptedGraph::script.pendingCompletions);  // the queue untouched
  Movie_CheckVideoStatus(live);  // still not repetitive: its end stops it
  EXPECT_EQ(1, ScriptedGraph::script.stops);
  EXPECT_TRUE(Movie_Release(live));
}

}  // namespace
