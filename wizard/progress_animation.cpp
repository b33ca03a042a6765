#include "progress_animation.h"

namespace corvane::wizard {

int StepProgressPosition(int position, int goal, int direction) {
    if (direction == 1 && position < goal) {
        return position + 1;
    }
    if (direction == 0 && position > goal) {
        return position - 1;
    }
    return position;
}

} // namespace corvane::wizard
