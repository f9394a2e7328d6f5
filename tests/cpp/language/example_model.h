#pragma once

// The example model used across the compiler's tests, and the answer-set
// program it generates.
namespace tallo::testing {

inline constexpr const char* example_model =
    "rain <- source(\"/weather/rain\", Probability).\n"
    "temp(kitchen) <- source(\"/sensors/kitchen\", Number).\n"
    "{sunny, cloudy} <- source(\"/sky\", Categorical).\n"
    "wet <- P(0.9) if rain.\n"
    "hot(X) <- P(0.7) if room(X) and temp(X) > 30.\n"
    "room(kitchen).\n"
    "alarm if wet and not sunny.\n"
    "alarm if hot(kitchen).\n"
    "alarm -> target(\"/out/alarm\").\n";

inline constexpr const char* example_program =
    "{rain}.\n"
    "{temp_kitchen_gt_30}.\n"
    "1 { sunny ; cloudy } 1.\n"
    "tallo_temp_gt_30(kitchen) :- temp_kitchen_gt_30.\n"
    "{wet_cause_0}.\n"
    "wet :- wet_cause_0, rain.\n"
    "{hot_cause_0(X)} :- room(X).\n"
    "hot(X) :- hot_cause_0(X), room(X), tallo_temp_gt_30(X).\n"
    "room(kitchen).\n"
    "alarm :- wet, not sunny.\n"
    "alarm :- hot(kitchen).\n"
    ":- not alarm.\n";

}  // namespace tallo::testing
