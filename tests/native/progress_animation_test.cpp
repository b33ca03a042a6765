// The Progress page's step: one percent per tick toward the goal in the
// install's direction only, and the end positions that close the page.
#include "progress_animation.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using corvane::wizard::ProgressEndsPage;
using corvane::wizard::StepProgressPosition;

TEST(ProgressAnimation, StepsOnePercentTowardTheGoalInTheInstallsDirectionOnly) {
    const struct {
        int position, goal, direction, next;
    } cases[] = {
        {1, 1, 1, 1},      // the start: still until the install's first goal
        {1, 10, 1, 2},     // forward, one at a time, not a jump to the goal
        {9, 10, 1, 10},    // reaches the goal exactly
        {10, 10, 1, 10},   // and stays there
        {60, 50, 1, 60},   // forward never runs back down to a lower goal
        {50, 40, 0, 49},   // rollback runs backward
        {41, 40, 0, 40},   // down to the goal exactly
        {1, 0, 0, 0},      // the rollback's last goal is 0
        {0, 0, 0, 0},      // and never below it
        {30, 40, 0, 30},   // rollback never climbs back up to a higher goal
        {5, 50, 2, 5},     // a direction that is neither: the bar waits
        {99, 100, 1, 100}, // the step itself may reach the end position
        {INT_MAX, INT_MAX, 1, INT_MAX},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StepProgressPosition(c.position, c.goal, c.direction), c.next)
            << c.position << " toward " << c.goal << " direction " << c.direction;
    }
}

TEST(ProgressAnimation, OnlyTheWorkersEndPositionsEndThePage) {
    EXPECT_FALSE(ProgressEndsPage(99)) << "the last shown value would close the page";
    EXPECT_TRUE(ProgressEndsPage(100)) << "success";
    EXPECT_TRUE(ProgressEndsPage(120)) << "failure";
    EXPECT_FALSE(ProgressEndsPage(0));
}

} // namespace
