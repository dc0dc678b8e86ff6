#include "component/job_state.h"

namespace tolvex {

JobState& basTolvex() {
  static JobState state;
  return state;
}

}  // namespace tolvex
