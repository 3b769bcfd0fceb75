// A roll-out's plan beside the fleet record: for each printer and setting, whether the record's
// last value sent is the planned one (record diff), and the plan without what the printers have
// already (apply --skip-same).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fleet/Plan.h"
#include "record/Record.h"

/// What the record says of a planned setting of a printer.
enum class RecordedState : uint8_t {
    Same,      // its last value sent with success is the planned one
    Differs,   // it is another
    NeverSet,  // it was never sent with success
    Failed,    // its last send failed: what the printer holds is not known
};

/// "same", "differs", "never-set", "failed".
const char* RecordedStateName(RecordedState state);

/// One planned setting of a printer beside the record.
struct RecordedSetting {
    size_t command = 0;                       // its command's place in the printer's plan
    const PlannedSetting* planned = nullptr;  // the plan's setting
    RecordedState state = RecordedState::NeverSet;
    std::string shown;     // the planned value as the record shows it: a secret as its fingerprint
    std::string recorded;  // the last value sent (a secret's fingerprint); empty when none
    int64_t sentMs = 0;    // when it was sent; 0: never with success
    std::string rollout;   // the roll-out that sent it (uuid)
};

/// Tells `each` every printer of `plan` in its order (its index) with each setting of its
/// commands (commands of their own, "cut", left out) beside the record; a secret is compared by
/// its fingerprint under the key of the roll-out that sent the recorded one (the record's own key
/// when none was). False with `problem` when the record cannot be read.
bool CompareWithRecord(Record& record,
                       const RolloutPlan& plan,
                       const std::function<void(size_t printer, const std::vector<RecordedSetting>&)>& each,
                       std::string& problem);

/// apply --skip-same: leaves out of each printer's plan every command whose settings are all
/// the same as recorded; its commands of their own ("after") stay only when another command
/// stays. A printer left with nothing is not to be contacted (its plan empty). Answers the
/// number of commands left out; false with `problem` when the record cannot be read.
bool SkipSame(Record& record, RolloutPlan& plan, size_t& skipped, std::string& problem);
