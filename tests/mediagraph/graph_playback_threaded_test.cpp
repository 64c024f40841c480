// The graph playing real movies made with ffmpeg: rendering, running to one
// EC_COMPLETE with every frame in order, pause/run/stop, seeking while running
// and paused, looping at EC_COMPLETE, two graphs at once and files that are no
// movie.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <thread>

#include "platform/media/media.h"
#include "platform/win32/windows.h"
#include "tests/mediagraph/support/movie_player.h"
#include "tests/mediagraph/support/test_movies.h"

using namespace mediagraph_test;
using mediagraph::ComPtr;

namespace {

constexpr REFERENCE_TIME kFrame25 = 400000;  // one frame at 25 fps, 100 ns units

MovieSpec Plain() {
  MovieSpec recipe;
  recipe.file = "plain.mp4";
  recipe.frames = 20;
  return recipe;
}

MovieSpec WithSound() {
  MovieSpec recipe;
  recipe.file = "sound.mp4";
  recipe.frames = 20;
  recipe.audioArgs = "-c:a aac";
  return recipe;
}

class GraphPlayback : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new TempDir();
    plain = new std::string(MakeMovie(*dir, Plain()));
    sound = new std::string(MakeMovie(*dir, WithSound()));
  }
  static void TearDownTestSuite() {
    delete plain;
    delete sound;
    delete dir;
  }
  void SetUp() override { ASSERT_FALSE(plain->empty() || sound->empty()) << "ffmpeg failed"; }

  // Loads a movie and sets the renderer to read the marker and the four quadrants.
  std::unique_ptr<MoviePlayer> Load(const std::string &path, const MovieSpec &recipe) {
    auto player = std::make_unique<MoviePlayer>();
    player->renderer->SetProbes({MarkerPoint(), TopLeft(recipe), TopRight(recipe),
                                 BottomLeft(recipe), BottomRight(recipe)});
    const HRESULT hr = player->Load(path);
    EXPECT_TRUE(hr == S_OK || hr == VFW_S_AUDIO_NOT_RENDERED) << std::hex << hr;
    return player;
  }

  static TempDir *dir;
  static std::string *plain;
  static std::string *sound;
};

TempDir *GraphPlayback::dir = nullptr;
std::string *GraphPlayback::plain = nullptr;
std::string *GraphPlayback::sound = nullptr;

// The frames drawn from `from` on are the movie's frames `first`, `first + 1`, ...
// in order, timed one frame apart from the first of them (a segment that began
// while running starts at the stream time reached), with the right colours.
void ExpectFramesInOrder(const std::vector<DrawnFrame> &frames, size_t from, size_t count,
                         int first = 0) {
  ASSERT_GE(frames.size(), from + count);
  for (size_t i = 0; i < count; ++i) {
    const DrawnFrame &f = frames[from + i];
    SCOPED_TRACE("frame " + std::to_string(from + i));
    ASSERT_EQ(f.probes.size(), 5u);
    EXPECT_EQ(MarkerFrame(f.probes[0]), first + int(i));
    EXPECT_TRUE(f.hasTime);
    EXPECT_NEAR(double(f.start - frames[from].start), double(REFERENCE_TIME(i) * kFrame25), 1.0);
    EXPECT_NEAR(double(f.stop - f.start), double(kFrame25), 1.0);
    EXPECT_TRUE(Near(f.probes[1], 255, 0, 0));      // top-left red
    EXPECT_TRUE(Near(f.probes[2], 0, 255, 0));      // top-right green
    EXPECT_TRUE(Near(f.probes[3], 0, 0, 255));      // bottom-left blue
    EXPECT_TRUE(Near(f.probes[4], 255, 255, 255));  // bottom-right white
  }
}

}  // namespace

TEST_F(GraphPlayback, RendersStoppedAndRunsToOneCompletionWithEveryFrame) {
  auto player = Load(*plain, Plain());
  EXPECT_EQ(player->renderer->Width(), 64);
  EXPECT_EQ(player->renderer->Height(), 48);  // positive: rows bottom-up
  EXPECT_EQ(player->State(), State_Stopped);
  EXPECT_EQ(player->renderer->FrameCount(), 0u);

  ASSERT_EQ(player->control->Run(), S_OK);
  EXPECT_EQ(player->State(), State_Running);
  ASSERT_TRUE(player->WaitFor(EC_COMPLETE, kPatienceMs));
  EXPECT_EQ(player->CountWithin(EC_COMPLETE, 200), 0);
  EXPECT_EQ(player->State(), State_Running);  // the graph runs on until told
  const auto frames = player->renderer->Frames();
  EXPECT_EQ(frames.size(), 20u);
  ExpectFramesInOrder(frames, 0, 20);
  EXPECT_EQ(frames[0].start, 0);
}

TEST_F(GraphPlayback, MovieWithSoundCompletesOnceForPictureAndSound) {
  auto player = Load(*sound, WithSound());
  ASSERT_EQ(player->control->Run(), S_OK);
  ASSERT_TRUE(player->WaitFor(EC_COMPLETE, kPatienceMs));
  EXPECT_EQ(player->CountWithin(EC_COMPLETE, 300), 0);
  ExpectFramesInOrder(player->renderer->Frames(), 0, 20);
}

TEST_F(GraphPlayback, PauseHoldsTheFirstFrameUntilRun) {
  auto player = Load(*plain, Plain());
  const HRESULT paused = player->control->Pause();
  EXPECT_TRUE(paused == S_OK || paused == S_FALSE);
  // Given time, GetState waits for the first frame to arrive.
  EXPECT_EQ(player->State(kPatienceMs), State_Paused);
  OAFilterState state = -1;
  EXPECT_EQ(player->control->GetState(0, &state), S_OK);
  Sleep(100);
  EXPECT_EQ(player->renderer->FrameCount(), 0u);  // held, not drawn, while paused

  ASSERT_EQ(player->control->Run(), S_OK);
  ASSERT_TRUE(player->renderer->WaitForFrames(5, kPatienceMs));
  // Complete at once when the next frame is already waiting, else when it comes.
  const HRESULT pausedAgain = player->control->Pause();
  EXPECT_TRUE(pausedAgain == S_OK || pausedAgain == S_FALSE);
  EXPECT_EQ(player->State(kPatienceMs), State_Paused);
  const size_t drawn = player->renderer->FrameCount();
  Sleep(150);
  EXPECT_LE(player->renderer->FrameCount(), drawn + 1);  // one may have been on its way

  // Resuming continues where the movie paused.
  ASSERT_EQ(player->control->Run(), S_OK);
  ASSERT_TRUE(player->WaitFor(EC_COMPLETE, kPatienceMs));
  ExpectFramesInOrder(player->renderer->Frames(), 0, 20);
  EXPECT_EQ(player->renderer->FrameCount(), 20u);
}

TEST_F(GraphPlayback, StopThenRewindPlaysTheMovieAgain) {
  auto player = Load(*plain, Plain());
  ASSERT_EQ(player->control->Run(), S_OK);
  ASSERT_TRUE(player->renderer->WaitForFrames(3, kPatienceMs));
  ASSERT_EQ(player->control->Stop(), S_OK);
  EXPECT_EQ(player->State(kPatienceMs), State_Stopped);
  ASSERT_EQ(player->position->put_CurrentPosition(0.0), S_OK);
  const size_t before = player->renderer->FrameCount();
  Sleep(100);
  EXPECT_EQ(player->renderer->FrameCount(), before);  // nothing plays while stopped

  ASSERT_EQ(player->control->Run(), S_OK);
  ASSERT_TRUE(player->WaitFor(EC_COMPLETE, kPatienceMs));
  EXPECT_EQ(player->CountWithin(EC_COMPLETE, 200), 0);
  ExpectFramesInOrder(player->renderer->Frames(), before, 20);
}

TEST_F(GraphPlayback, SeekToStartWhileRunningRestartsAtOnce) {
  auto player = Load(*plain, Plain());
  ASSERT_EQ(player->control->Run(), S_OK);
  ASSERT_TRUE(player->renderer->WaitForFrames(8, kPatienceMs));
  ASSERT_EQ(player->position->put_CurrentPosition(0.0), S_OK);
  EXPECT_EQ(player->State(), State_Running);
  ASSERT_TRUE(player->WaitFor(EC_COMPLETE, kPatienceMs));
  EXPECT_EQ(player->CountWithin(EC_COMPLETE, 200), 0);

  // The frames after the seek are the whole movie again, from frame 0.
  const auto frames = player->renderer->Frames();
  size_t restart = 1;
  while (restart < frames.size() && MarkerFrame(frames[restart].probes[0]) != 0) ++restart;
  ASSERT_LT(restart, frames.size());
  EXPECT_GE(restart, 8u);
  ExpectFramesInOrder(frames, 0, restart);
  ASSERT_EQ(frames.size() - restart, 20u);
  ExpectFramesInOrder(frames, restart, 20);
}

TEST_F(GraphPlayback, SeekToStartWhilePausedShowsTheFirstFrameOnRun) {
  auto player = Load(*plain, Plain());
  ASSERT_EQ(player->control->Run(), S_OK);
  ASSERT_TRUE(player->renderer->WaitForFrames(6, kPatienceMs));
  player->control->Pause();
  ASSERT_EQ(player->position->put_CurrentPosition(0.0), S_OK);
  EXPECT_EQ(player->State(kPatienceMs), State_Paused);  // the new first frame completes the pause
  const size_t before = player->renderer->FrameCount();

  ASSERT_EQ(player->control->Run(), S_OK);
  ASSERT_TRUE(player->WaitFor(EC_COMPLETE, kPatienceMs));
  const auto frames = player->renderer->Frames();
  ASSERT_EQ(frames.size() - before, 20u);
  ExpectFramesInOrder(frames, before, 20);
}

TEST_F(GraphPlayback, SeekIntoTheMovieStartsANewSegmentThere) {
  auto player = Load(*plain, Plain());
  // The loaded graph cues its first picture while stopped: it may be in already.
  const HRESULT paused = player->control->Pause();
  ASSERT_TRUE(paused == S_OK || paused == S_FALSE);
  ASSERT_EQ(player->position->put_CurrentPosition(0.4), S_OK);
  EXPECT_EQ(player->State(kPatienceMs), State_Paused);
  REFTIME at = 0;
  ASSERT_EQ(player->position->get_CurrentPosition(&at), S_OK);
  EXPECT_NEAR(at, 0.4, 0.001);

  ASSERT_EQ(player->control->Run(), S_OK);
  ASSERT_TRUE(player->WaitFor(EC_COMPLETE, kPatienceMs));
  // Frames 10 to 19, timed from the new segment's start.
  const auto frames = player->renderer->Frames();
  ASSERT_EQ(frames.size(), 10u);
  ExpectFramesInOrder(frames, 0, 10, 10);
  // The completion may come up to 50 ms before the end; a little later the position
  // is at the end, and stays there.
  Sleep(150);
  ASSERT_EQ(player->position->get_CurrentPosition(&at), S_OK);
  EXPECT_NEAR(at, 0.8, 0.001);
}

TEST_F(GraphPlayback, LoopsBySeekingAtEachCompletionWithEveryFrameInOrder) {
  for (const bool withSound : {false, true}) {
    SCOPED_TRACE(withSound ? "with sound" : "picture only");
    auto player = withSound ? Load(*sound, WithSound()) : Load(*plain, Plain());
    ASSERT_EQ(player->control->Run(), S_OK);
    for (int loop = 0; loop < 3; ++loop) {
      ASSERT_TRUE(player->WaitFor(EC_COMPLETE, kPatienceMs)) << "loop " << loop;
      // The notice comes once every picture has had its time.
      const auto frames = player->renderer->Frames();
      ASSERT_EQ(frames.size(), 20u * (loop + 1));
      if (loop < 2) {
        ASSERT_EQ(player->position->put_CurrentPosition(0.0), S_OK);
      }
      EXPECT_EQ(player->State(), State_Running);
    }
    const auto frames = player->renderer->Frames();
    ASSERT_EQ(frames.size(), 60u);
    for (size_t loop = 0; loop < 3; ++loop) {
      ExpectFramesInOrder(frames, loop * 20, 20);
      // Each loop goes on from the stream time reached; none starts before the
      // last picture of the one before has ended.
      if (loop > 0) {
        EXPECT_GE(frames[loop * 20].start, frames[loop * 20 - 1].stop);
      }
    }
    EXPECT_EQ(player->CountWithin(EC_COMPLETE, 200), 0);
  }
}

// What a game asks in quick succession runs in order, and a jump takes back
// the end of the segment it leaves: a load, jump and play never shows the
// first frame; an end queued before a jump is not heard of; pausing, reading
// the position and jumping there shows the same picture.
TEST_F(GraphPlayback, JumpsAskedAtOnceLandInOrder) {
  {
    auto player = Load(*plain, Plain());
    ASSERT_EQ(player->position->put_CurrentPosition(0.4), S_OK);
    ASSERT_EQ(player->control->Run(), S_OK);
    ASSERT_TRUE(player->WaitFor(EC_COMPLETE, kPatienceMs));
    ExpectFramesInOrder(player->renderer->Frames(), 0, 10, 10);
    EXPECT_EQ(player->renderer->FrameCount(), 10u);

    // Two jumps at once: the later one lands. Once its end is queued, a jump
    // takes it back and plays on from there, with one end again.
    OAEVENT queued = 0;
    ASSERT_EQ(player->events->GetEventHandle(&queued), S_OK);
    ASSERT_EQ(player->position->put_CurrentPosition(0.0), S_OK);
    ASSERT_EQ(player->position->put_CurrentPosition(0.6), S_OK);
    ASSERT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(queued), kPatienceMs), WAIT_OBJECT_0);
    ExpectFramesInOrder(player->renderer->Frames(), 10, 5, 15);
    ASSERT_EQ(player->position->put_CurrentPosition(0.4), S_OK);
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    EXPECT_EQ(player->events->GetEvent(&code, &p1, &p2, 0), E_ABORT);
    ASSERT_TRUE(player->WaitFor(EC_COMPLETE, kPatienceMs));
    ExpectFramesInOrder(player->renderer->Frames(), 15, 10, 10);
    EXPECT_EQ(player->renderer->FrameCount(), 25u);
  }
  {
    // A stop set at once after a jump keeps the jump.
    auto player = Load(*plain, Plain());
    ASSERT_EQ(player->position->put_CurrentPosition(0.4), S_OK);
    ASSERT_EQ(player->position->put_StopTime(0.6), S_OK);
    ASSERT_EQ(player->control->Run(), S_OK);
    ASSERT_TRUE(player->WaitFor(EC_COMPLETE, kPatienceMs));
    ExpectFramesInOrder(player->renderer->Frames(), 0, 5, 10);
    EXPECT_EQ(player->renderer->FrameCount(), 5u);
  }
  {
    auto player = Load(*plain, Plain());
    ASSERT_EQ(player->control->Run(), S_OK);
    ASSERT_TRUE(player->renderer->WaitForFrames(6, kPatienceMs));
    ASSERT_EQ(player->control->Pause(), S_OK);  // the picture on show stays
    EXPECT_EQ(player->State(kPatienceMs), State_Paused);
    Sleep(20);  // the video thread leaves the renderer with the picture drawn
    const size_t shown = player->renderer->FrameCount();
    const int frame = MarkerFrame(player->renderer->Frames().back().probes[0]);
    REFTIME at = 0;
    ASSERT_EQ(player->position->get_CurrentPosition(&at), S_OK);
    EXPECT_NEAR(at, frame * 0.04, 0.001);
    ASSERT_EQ(player->position->put_CurrentPosition(at), S_OK);
    ASSERT_EQ(player->control->Run(), S_OK);
    ASSERT_TRUE(player->WaitFor(EC_COMPLETE, kPatienceMs));
    ExpectFramesInOrder(player->renderer->Frames(), shown, 20 - frame, frame);
  }
}

// Pause and Run pairs asked at once, and Stops of a stopped graph, cost
// nothing: the movie goes on in order, and the stopped graph has nothing to do.
TEST_F(GraphPlayback, PairsAndRepeatsAskedAtOnceChangeNothing) {
  auto player = Load(*sound, WithSound());
  ASSERT_EQ(player->control->Run(), S_OK);
  ASSERT_TRUE(player->renderer->WaitForFrames(3, kPatienceMs));
  for (int pair = 0; pair < 50; ++pair) {
    player->control->Pause();
    ASSERT_EQ(player->control->Run(), S_OK);
  }
  ASSERT_TRUE(player->WaitFor(EC_COMPLETE, kPatienceMs));
  ExpectFramesInOrder(player->renderer->Frames(), 0, 20);
  ASSERT_EQ(player->control->Stop(), S_OK);
  EXPECT_EQ(player->State(kPatienceMs), State_Stopped);
  for (int stop = 0; stop < 10; ++stop) ASSERT_EQ(player->control->Stop(), S_OK);
  OAFilterState state = -1;
  EXPECT_EQ(player->control->GetState(0, &state), S_OK);  // nothing queued
}

TEST_F(GraphPlayback, TwoGraphsPlayAtOnce) {
  auto first = Load(*plain, Plain());
  auto second = Load(*sound, WithSound());
  ASSERT_EQ(first->control->Run(), S_OK);
  ASSERT_EQ(second->control->Run(), S_OK);
  ASSERT_TRUE(first->WaitFor(EC_COMPLETE, kPatienceMs));
  ASSERT_TRUE(second->WaitFor(EC_COMPLETE, kPatienceMs));
  ExpectFramesInOrder(first->renderer->Frames(), 0, 20);
  ExpectFramesInOrder(second->renderer->Frames(), 0, 20);
  EXPECT_EQ(first->renderer->FrameCount(), 20u);
  EXPECT_EQ(second->renderer->FrameCount(), 20u);
}

TEST_F(GraphPlayback, PositionInterfacesReportTheMovie) {
  auto player = Load(*plain, Plain());
  REFTIME length = 0;
  ASSERT_EQ(player->position->get_Duration(&length), S_OK);
  EXPECT_NEAR(length, 0.8, 0.05);
  LONG canSeek = 0;
  EXPECT_EQ(player->position->CanSeekBackward(&canSeek), S_OK);
  EXPECT_EQ(canSeek, -1);
  EXPECT_EQ(player->position->put_CurrentPosition(std::nan("")), E_INVALIDARG);
}

TEST_F(GraphPlayback, MissingFileFailsAndNamesTheCause) {
  auto player = std::make_unique<MoviePlayer>();
  SetLastError(0);
  const std::wstring missing = Wide(dir->Path() + "/no such movie.mp4");
  const HRESULT hr = player->graph->RenderFile(missing.c_str(), nullptr);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  ComPtr<IBaseFilter> source;
  EXPECT_EQ(player->graph->FindFilterByName(missing.c_str(), source.put()), VFW_E_NOT_FOUND);
}

TEST_F(GraphPlayback, FileThatIsNoMovieFailsAndLeavesNothingBehind) {
  auto player = std::make_unique<MoviePlayer>();
  const std::string text = WriteFile(*dir, "notes.mp4", "this is not a movie at all\n");
  const std::wstring wide = Wide(text);
  EXPECT_TRUE(FAILED(player->graph->RenderFile(wide.c_str(), nullptr)));
  ComPtr<IBaseFilter> source;
  EXPECT_EQ(player->graph->FindFilterByName(wide.c_str(), source.put()), VFW_E_NOT_FOUND);
  ComPtr<IPin> input, peer;
  ASSERT_EQ(player->renderer->FindPin(L"In", input.put()), S_OK);
  EXPECT_EQ(input->ConnectedTo(peer.put()), VFW_E_NOT_CONNECTED);
  // The renderer can still take a real movie.
  EXPECT_EQ(player->Load(*plain), S_OK);
}

TEST_F(GraphPlayback, GraphWithoutRendererCannotRenderAndKeepsNoSource) {
  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(CoInitialize(nullptr) >= 0, true);
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder,
                             graph.put_void()),
            S_OK);
  const std::wstring wide = Wide(*plain);
  EXPECT_EQ(graph->RenderFile(wide.c_str(), nullptr), VFW_E_CANNOT_RENDER);
  ComPtr<IBaseFilter> source;
  EXPECT_EQ(graph->FindFilterByName(wide.c_str(), source.put()), VFW_E_NOT_FOUND);
  graph.reset();
  CoUninitialize();
}
