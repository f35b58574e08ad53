#include <gtest/gtest.h>

#include "engine/motion_parameters.h"
#include "engine/motion_ticker.h"
#include "platform/fake/fake_platform.h"

namespace {

// --- The ticker: timelines of held keys and ticks, checked by the pointer's moves ---

struct Ticker : ::testing::Test {
    CallLog log;
    FakePointer pointer{log};
    KeyPathState state;

    void SetUp() override
    {
        state.on = true;
        state.StdStep = 6;
        state.FastStep = 20;
        state.FastAfter = 250;
        state.CurStep = 6;
    }
    // One tick: the x distance moved.
    int tickX(std::int32_t interval = 25)
    {
        const int before = pointer.position.x;
        MoveTick(state, pointer, interval);
        return pointer.position.x - before;
    }
};

TEST_F(Ticker, ElevenStandardStepsThenTheFastStep)
{
    pointer.position = {100, 100};
    state.ArrowDown[2] = 1;
    std::vector<int> moves;
    std::vector<int> holds;
    for (int i = 0; i < 14; ++i) {
        moves.push_back(tickX());
        holds.push_back(state.HoldTime);
    }
    EXPECT_EQ(moves, (std::vector<int>{6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 20, 20, 20}));
    EXPECT_EQ(holds, (std::vector<int>{25, 50, 75, 100, 125, 150, 175, 200, 225, 250, 275, 300, 325, 350}));

    // Releasing every arrow: the next tick moves nothing and returns to the standard step.
    state.ArrowDown[2] = 0;
    log.clear();
    EXPECT_EQ(tickX(), 0);
    EXPECT_EQ(log.all(), std::vector<std::string>{});
    EXPECT_EQ(state.HoldTime, 0);
    EXPECT_EQ(state.CurStep, 6);
}

TEST_F(Ticker, EachArrowReadsThePositionAgainBeforeMoving)
{
    pointer.position = {100, 100};
    state.ArrowDown = {0, 1, 1, 0};  // Up and Right: diagonal
    MoveTick(state, pointer, 25);
    EXPECT_EQ(log.all(), (std::vector<std::string>{"GetCursorPos", "SetCursorPos 100,94", "GetCursorPos",
                                                   "SetCursorPos 106,94"}));
}

TEST_F(Ticker, OppositeArrowsCancelYetTheHoldGrows)
{
    pointer.position = {500, 300};
    state.ArrowDown = {1, 0, 1, 0};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(tickX(), 0);
    EXPECT_EQ(state.HoldTime, 300);
    EXPECT_EQ(state.CurStep, 20);
}

TEST_F(Ticker, AtTheScreenEdgeThePointerStaysAndTheHoldGrows)
{
    pointer.position = {3, 100};
    state.ArrowDown[0] = 1;
    MoveTick(state, pointer, 25);
    MoveTick(state, pointer, 25);
    EXPECT_EQ(pointer.position.x, 0);
    EXPECT_EQ(state.HoldTime, 50);
}

TEST_F(Ticker, StepChoiceEdgeCases)
{
    // FastAfter below 0: every tick ends at the fast step, even with nothing held.
    state.FastAfter = -1;
    MoveTick(state, pointer, 25);
    EXPECT_EQ(state.CurStep, 20);

    // A negative step moves the other way.
    state.FastAfter = 250;
    state.CurStep = -2;
    state.StdStep = -2;
    state.ArrowDown[2] = 1;
    EXPECT_EQ(tickX(), -2);

    // The first tick after a start with control on moves by the initial CurStep of 0.
    KeyPathState fresh;
    fresh.on = true;
    fresh.StdStep = 6;
    fresh.FastAfter = 250;
    fresh.ArrowDown[2] = 1;
    pointer.position = {100, 100};
    MoveTick(fresh, pointer, 25);
    EXPECT_EQ(pointer.position.x, 100);
    EXPECT_EQ(fresh.HoldTime, 25);
    EXPECT_EQ(fresh.CurStep, 6);
}

TEST_F(Ticker, HoldTimeStopsAtItsLimitWhileHeld)
{
    state.ArrowDown[3] = 1;
    state.HoldTime = 32760;
    MoveTick(state, pointer, 25);
    EXPECT_EQ(state.HoldTime, 32767);
    MoveTick(state, pointer, 2'000'000'000);
    EXPECT_EQ(state.HoldTime, 32767);
    EXPECT_EQ(state.CurStep, 20);
}

TEST_F(Ticker, AFailedReadMovesFromThePreviousPosition)
{
    state.CursorPt = {50, 60};
    pointer.failReads = true;
    state.ArrowDown[2] = 1;
    MoveTick(state, pointer, 25);
    EXPECT_EQ(log.only({"SetCursorPos"}), std::vector<std::string>{"SetCursorPos 56,60"});
}

// A refused move stops the tick at once: the other arrows don't try, and the hold starts over.
TEST_F(Ticker, ARefusedMoveForgetsTheHeldArrows)
{
    state.ArrowDown = {0, 1, 1, 0};
    state.HoldTime = 300;
    state.CurStep = state.FastStep;
    pointer.failMoves = true;
    EXPECT_FALSE(MoveTick(state, pointer, 25));
    EXPECT_EQ(log.only({"SetCursorPos"}).size(), 1u);
    EXPECT_EQ(state.ArrowDown, (std::array<std::int16_t, 4>{}));
    EXPECT_EQ(state.HoldTime, 0);
    EXPECT_EQ(state.CurStep, state.StdStep);
    pointer.failMoves = false;
    EXPECT_TRUE(MoveTick(state, pointer, 25));
}

TEST_F(Ticker, CoordinateSumsDoNotOverflow)
{
    pointer.width = 2147483647;
    pointer.position = {2147483640, 0};
    state.CurStep = 32767;
    state.ArrowDown[2] = 1;
    MoveTick(state, pointer, 25);
    EXPECT_EQ(log.only({"SetCursorPos"}), std::vector<std::string>{"SetCursorPos 2147483647,0"});
}

// --- Motion parameters: field texts to steps, delay and interval ---

struct Recalc {
    FieldTexts fields{"25", "80", "250", "25"};
    PavroState state;
    std::int32_t interval = 25;

    void run(std::int16_t index)
    {
        if (auto newInterval = ComputeMotion(index, fields, ".", state, interval))
            interval = *newInterval;
    }
};

TEST(MotionParameters, DefaultsAndHalfToEvenSteps)
{
    Recalc r;
    r.run(-1);
    EXPECT_EQ(r.state.StdStep, 6);
    EXPECT_EQ(r.state.FastStep, 20);
    EXPECT_EQ(r.state.FastAfter, 250);
    EXPECT_EQ(r.interval, 25);

    const std::pair<const char*, int> speeds[] = {{"10", 2}, {"30", 8}, {"50", 12}, {"70", 18}, {"-10", -2}};
    for (auto [speed, step] : speeds) {
        SCOPED_TRACE(speed);
        r.fields[0] = speed;
        r.run(0);
        EXPECT_EQ(r.state.StdStep, step);
    }
    r.fields[2] = "2.5";
    r.run(2);
    EXPECT_EQ(r.state.FastAfter, 2);
    r.fields[2] = "3.5";
    r.run(2);
    EXPECT_EQ(r.state.FastAfter, 4);
}

TEST(MotionParameters, TheSameTextsGiveDifferentStepsByWhichFieldChanged)
{
    Recalc r;
    r.fields = {"10", "80", "250", "25.4"};
    r.run(-1);
    EXPECT_EQ(r.state.StdStep, 3);  // R(2.54) from the unrounded refresh
    EXPECT_EQ(r.interval, 25);
    r.run(0);
    EXPECT_EQ(r.state.StdStep, 2);  // R(2.5) from the integer interval
}

TEST(MotionParameters, FieldsThatHoldNoNumberChangeNothing)
{
    Recalc r;
    r.run(-1);
    r.fields[0] = "";
    r.run(0);
    EXPECT_EQ(r.state.StdStep, 6);
    // All-fields recomputation with one bad field changes nothing at all.
    r.fields = {"", "40", "100", "50"};
    r.run(-1);
    EXPECT_EQ(r.state.FastStep, 20);
    EXPECT_EQ(r.state.FastAfter, 250);
    EXPECT_EQ(r.interval, 25);
}

TEST(MotionParameters, RefreshAtOrBelowZero)
{
    Recalc r;
    r.run(-1);
    for (const char* refresh : {"0", "-25"}) {
        SCOPED_TRACE(refresh);
        r.fields[3] = refresh;
        r.run(3);
        EXPECT_EQ(r.state.StdStep, 6);
        EXPECT_EQ(r.interval, 25);
    }
    // The all-fields form still takes the steps from it, leaving the interval alone.
    r.fields[3] = "0";
    r.run(-1);
    EXPECT_EQ(r.state.StdStep, 0);
    EXPECT_EQ(r.interval, 25);
    r.fields[3] = "-25";
    r.run(-1);
    EXPECT_EQ(r.state.StdStep, -6);
    EXPECT_EQ(r.state.FastStep, -20);
    EXPECT_EQ(r.interval, 25);

    r.fields[3] = "0.4";
    r.run(3);
    EXPECT_EQ(r.interval, 0);
    EXPECT_EQ(r.state.StdStep, 0);
}

TEST(MotionParameters, SingleFieldStepsUseTheTimersIntervalWhateverSetIt)
{
    Recalc r;
    r.interval = 200;  // the poll's idle interval
    r.run(0);
    EXPECT_EQ(r.state.StdStep, 50);
}

// Results outside their type, or from a product beyond double precision, leave that value.
TEST(MotionParameters, OutOfRangeResultsLeaveTheValueUnchanged)
{
    Recalc r;
    r.run(-1);
    const char* huge[] = {"200000", "1e400", "-1e400", "1e308"};
    for (const char* text : huge) {
        SCOPED_TRACE(text);
        r.fields = {text, "80", "250", "25"};
        r.run(0);
        r.fields[2] = text;
        r.run(2);
        EXPECT_EQ(r.state.StdStep, 6);
        EXPECT_EQ(r.state.FastAfter, 250);
    }
    r.fields = {"25", "80", "250", "1e10"};
    r.run(3);
    EXPECT_EQ(r.interval, 25) << "beyond 32 bits";
    EXPECT_EQ(r.state.StdStep, 6);
    r.fields[3] = "2147483647";
    r.run(3);
    EXPECT_EQ(r.interval, 2147483647);
    r.fields[3] = "1e400";
    r.run(-1);
    EXPECT_EQ(r.interval, 2147483647);
}

} // namespace
