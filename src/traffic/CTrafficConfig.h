#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/CStatus.h"
#include "traffic/CChurn.h"
#include "traffic/CGenerator.h"
#include "traffic/CLinkFaults.h"
#include "traffic/COutage.h"

// What a fleet's traffic is like beyond its schedule, as the options
// (--vary, --loss, --duplicate, --reorder, --jitter, --corrupt, --churn,
// --outage, --seed) and a scenario file give it: generated values, the
// link's faults, dropouts and outages, and stages that change them in the
// course of the run. The option names are the keys (Set), so the command
// line and the scenario file read the same texts the same way. A plain
// value.
struct CTrafficConfig {
    // The keys whose settings a stage may change.
    enum Key : uint32_t {
        kLoss = 1,
        kDuplicate = 2,
        kReorder = 4,
        kJitter = 8,
        kCorrupt = 16,
        kChurn = 32,
    };

    // The most --vary rules: a datagram's values fit a small array.
    static constexpr size_t kMaxVary = 64;
    // A device sends at most once a millisecond and at least once a day; the
    // whole fleet at most a billion datagrams a second.
    static constexpr int64_t kMinIntervalNs = 1000000;
    static constexpr int64_t kMaxIntervalNs = int64_t{86400} * 1000000000;
    static constexpr double kMaxRate = 1e9;

    // A root member that takes generated values (the packets are cut at
    // their first '}', so they hold no nested objects):
    // MEMBER=GENERATOR[,decimals=N].
    struct Vary {
        std::string strText;  // as given
        std::string strMember;
        CGenerator generator;
        int nDecimals = -1;  // -1: the member's own
    };

    // What may change in the course of a run.
    struct Settings {
        CLinkFaults faults;
        CChurn churn;
    };

    // From nAtNs after the start: the keys in nKeys take the values of
    // settings; an outage may start; the share of the fleet that is online
    // may move to a new value over nRampNs.
    struct Stage {
        int64_t nAtNs = 0;
        uint32_t nKeys = 0;
        Settings settings;
        std::optional<COutage> outage;
        // The devices online: a share of the fleet (dDevices, 0 to 1), or a
        // count of its devices.
        bool bDevices = false;
        bool bDevicesCount = false;
        double dDevices = 1;
        std::string strDevices;  // as given, for messages
        // The fleet's rate from then on, reached straight from the stage
        // before: datagrams a second, or an interval of each device.
        std::optional<double> dRate;
        std::optional<CDelay> interval;
        std::string strWhere;    // the stage in its file ("stages[2]"), for messages
        int64_t nRampNs = 0;
    };

    // Whether Set takes the key: "loss", "duplicate", "reorder", "jitter",
    // "corrupt", "churn".
    static bool IsKey(std::string_view key);
    // Sets a key from the option's text. Fails, naming the text and saying
    // what is wrong, when the text is not what the option takes (or the key
    // is not one).
    [[nodiscard]] static CStatus Set(std::string_view key, std::string_view text, Settings& settings,
                                     uint32_t& nKeys);
    // The keys Set takes, in order.
    static const std::vector<const char*>& Keys();
    // MEMBER=GENERATOR[,decimals=N]; fails naming the text.
    [[nodiscard]] static CStatus ReadVary(std::string_view text, Vary& vary);
    // A share of the fleet: a percentage (50%) or a count of devices.
    [[nodiscard]] static CStatus ReadDevices(std::string_view text, Stage& stage);

    // Whatever another config (the command line's) gives replaces this
    // one's (a scenario file's): its seed, its --vary rules and its outages
    // as a whole, each key it set.
    void Override(const CTrafficConfig& given);
    // Adds a vary rule; fails, naming the rule, when its member already has
    // one or there are too many.
    [[nodiscard]] CStatus AddVary(const Vary& vary);

    // Any of it asked for, "off" and zero values included: the run is then
    // one with traffic, and writes its seed and fault counts.
    bool Used() const;
    // Whether the link faults, dropouts or outages are on anywhere in the run.
    bool HasFaults() const;
    // Whether the settings at the start or of any stage answer true.
    template <typename Predicate>
    bool AnySettings(Predicate on) const
    {
        bool bOn = on(start);
        for (const Stage& stage : stages)
            bOn = bOn || on(stage.settings);
        return bOn;
    }
    // Whether any outage is asked for (an --outage, a stage's).
    bool HasOutages() const;
    // Whether a stage sets the share of the fleet online.
    bool SetsDevices() const;
    // Whether a stage sets the fleet's rate (or interval).
    bool SetsRate() const;

    std::optional<uint64_t> seed;
    std::vector<Vary> vary;
    Settings start;
    uint32_t nStartKeys = 0;
    std::vector<COutage> outages;
    std::vector<Stage> stages;  // by nAtNs, ascending
    // The scenario file it was read from, if any.
    std::string strScenario;
};
