#pragma once
// What went wrong in a job, in words for the command line, from the job's result alone (the
// window keeps its own message boxes).
#include <string>

#include "app/job_result.h"

namespace cli {

// One clause without the command's name, for example "the navigator refused frame 7 (NAK)".
std::string FailureText(const JobResult& result);

}  // namespace cli
