// The Progress page's bar between the install's progress calls: the install
// sets a goal (and sometimes jumps the position); the page's timer walks the
// position toward the goal one percent per tick, in the install's direction.
#pragma once

namespace corvane::wizard {

// Positions from here on end the Progress page: the worker stores 100 after a
// success and 120 after a failure. They are never shown on the bar.
inline constexpr int kProgressEndPosition = 100;

// The position one tick later: one up while going forward (direction 1) and
// below the goal, one down while rolling back (direction 0) and above it;
// otherwise unchanged, so a position past the goal in the other direction
// waits for the install instead of running away from it.
int StepProgressPosition(int position, int goal, int direction);

// True when `position` ends the page.
inline bool ProgressEndsPage(int position) {
    return position >= kProgressEndPosition;
}

} // namespace corvane::wizard
