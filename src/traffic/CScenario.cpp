#include "traffic/CScenario.h"

#include <simdjson.h>

#include <algorithm>
#include <vector>

#include "load/CFileReader.h"
#include "packet/CJsonText.h"
#include "text/CDuration.h"
#include "traffic/COptionText.h"
#include "traffic/CRandom.h"
#include "traffic/CRate.h"

namespace {

const char kTopKeys[] = "seed, vary, loss, duplicate, reorder, jitter, corrupt, churn, outage, stages";
const char kStageKeys[] =
    "at, loss, duplicate, reorder, jitter, corrupt, churn, outage, devices, ramp, rate, interval";

// Reads one object's members; the first failure is kept, named by the key's
// place in the file (stages[1].loss) and the value as given.
class CScenarioReader {
public:
    bool Ok() const { return m_strError.empty(); }
    const std::string& Error() const { return m_strError; }

    void Fail(const std::string& strWhere, const std::string& strWhat)
    {
        if (m_strError.empty())
            m_strError = strWhere + ": " + strWhat;
    }
    // Takes a reader's refusal of the value at strWhere.
    void Take(const std::string& strWhere, const CStatus& status)
    {
        if (!status.IsOk())
            Fail(strWhere, status.Message());
    }
    // Fails at the second of two members of one object with one key: which
    // of them would count is nobody's guess.
    bool UniqueKeys(const std::string& strWhere, simdjson::dom::object object)
    {
        std::vector<std::string_view> keys;
        for (const simdjson::dom::key_value_pair member : object) {
            if (std::find(keys.begin(), keys.end(), member.key) != keys.end()) {
                Fail(strWhere.empty() ? std::string(member.key) : strWhere + "." + std::string(member.key),
                     "is given twice");
                return false;
            }
            keys.push_back(member.key);
        }
        return true;
    }
    // A value's text: a string as it is, a number as JSON writes it.
    bool Text(const std::string& strWhere, simdjson::dom::element value, std::string& strText)
    {
        std::string_view text;
        if (value.get_string().get(text) == simdjson::SUCCESS) {
            strText = std::string(text);
            return true;
        }
        if (value.is_number()) {
            strText = CJsonText::Compact(value);
            return true;
        }
        Fail(strWhere, CJsonText::Compact(value) + " is not a string or a number");
        return false;
    }
    // Each text of a value that is one text or a list of them.
    template <typename Use>
    void EachText(const std::string& strWhere, simdjson::dom::element value, Use use)
    {
        simdjson::dom::array list;
        if (value.get_array().get(list) != simdjson::SUCCESS) {
            std::string strText;
            if (Text(strWhere, value, strText))
                use(strWhere, strText);
            return;
        }
        size_t i = 0;
        for (const simdjson::dom::element item : list) {
            const std::string strItem = strWhere + "[" + std::to_string(i++) + "]";
            std::string strText;
            if (Text(strItem, item, strText))
                use(strItem, strText);
        }
    }

private:
    std::string m_strError;
};

void ReadStage(CScenarioReader& read, const std::string& strWhere, simdjson::dom::object object,
               CTrafficConfig::Stage& stage)
{
    bool bAt = false;
    bool bRamp = false;
    if (!read.UniqueKeys(strWhere, object))
        return;
    const auto duration = [](const std::string& strText, int64_t& nNs) {
        return CDuration::Read(strText, nNs)
                   ? CStatus()
                   : COptionText::Refuse(strText, std::string("is not a duration (") + CDuration::Form() + ")");
    };
    for (const simdjson::dom::key_value_pair member : object) {
        const std::string strKey(member.key);
        const std::string strAt = strWhere + "." + strKey;
        std::string strText;
        if (!read.Ok() || !read.Text(strAt, member.value, strText))
            return;
        if (strKey == "at") {
            bAt = true;
            read.Take(strAt, duration(strText, stage.nAtNs));
        } else if (strKey == "outage") {
            COutage outage;
            const CStatus status = COutage::Read(strText, false, outage);
            if (status.IsOk())
                stage.outage = outage;
            read.Take(strAt, status);
        } else if (strKey == "devices") {
            read.Take(strAt, CTrafficConfig::ReadDevices(strText, stage));
        } else if (strKey == "rate") {
            double dRate = 0;
            const CStatus status = CRate::Read(strText, CTrafficConfig::kMaxRate, dRate);
            if (status.IsOk())
                stage.dRate = dRate;
            read.Take(strAt, status);
        } else if (strKey == "interval") {
            CDelay interval;
            const CStatus status = CDelay::ReadWithin(strText, CTrafficConfig::kMinIntervalNs,
                                                      CTrafficConfig::kMaxIntervalNs, interval);
            if (status.IsOk())
                stage.interval = interval;
            read.Take(strAt, status);
        } else if (strKey == "ramp") {
            bRamp = true;
            read.Take(strAt, duration(strText, stage.nRampNs));
        } else if (CTrafficConfig::IsKey(strKey)) {
            read.Take(strAt, CTrafficConfig::Set(strKey, strText, stage.settings, stage.nKeys));
        } else {
            read.Fail(strAt, std::string("is not a key of a stage (") + kStageKeys + ")");
        }
    }
    if (read.Ok() && !bAt)
        read.Fail(strWhere, "has no \"at\" (when the stage begins, a duration after the start)");
    if (read.Ok() && bRamp && !stage.bDevices)
        read.Fail(strWhere + ".ramp", "goes with \"devices\" only");
}

void ReadStages(CScenarioReader& read, simdjson::dom::element value, CTrafficConfig& config)
{
    simdjson::dom::array stages;
    if (value.get_array().get(stages) != simdjson::SUCCESS) {
        read.Fail("stages", "is not a list of stages");
        return;
    }
    size_t i = 0;
    for (const simdjson::dom::element item : stages) {
        const std::string strWhere = "stages[" + std::to_string(i++) + "]";
        simdjson::dom::object object;
        if (item.get_object().get(object) != simdjson::SUCCESS) {
            read.Fail(strWhere, "is not an object");
            return;
        }
        CTrafficConfig::Stage stage;
        stage.strWhere = strWhere;
        ReadStage(read, strWhere, object, stage);
        if (!read.Ok())
            return;
        if (!config.stages.empty() && stage.nAtNs < config.stages.back().nAtNs) {
            read.Fail(strWhere + ".at", "comes before the stage before it");
            return;
        }
        config.stages.push_back(stage);
    }
}

void ReadTop(CScenarioReader& read, simdjson::dom::object object, CTrafficConfig& config)
{
    if (!read.UniqueKeys(std::string(), object))
        return;
    for (const simdjson::dom::key_value_pair member : object) {
        const std::string strKey(member.key);
        if (strKey == "stages") {
            ReadStages(read, member.value, config);
        } else if (strKey == "vary") {
            read.EachText(strKey, member.value, [&](const std::string& strWhere, const std::string& strText) {
                CTrafficConfig::Vary vary;
                CStatus status = CTrafficConfig::ReadVary(strText, vary);
                if (status.IsOk())
                    status = config.AddVary(vary);
                read.Take(strWhere, status);
            });
        } else if (strKey == "outage") {
            read.EachText(strKey, member.value, [&](const std::string& strWhere, const std::string& strText) {
                COutage outage;
                const CStatus status = COutage::Read(strText, true, outage);
                if (status.IsOk())
                    config.outages.push_back(outage);
                read.Take(strWhere, status);
            });
        } else {
            std::string strText;
            if (!read.Text(strKey, member.value, strText))
                return;
            uint64_t nSeed = 0;
            if (strKey == "seed") {
                const CStatus status = CRandom::ReadSeed(strText, nSeed);
                if (status.IsOk())
                    config.seed = nSeed;
                read.Take(strKey, status);
            } else if (CTrafficConfig::IsKey(strKey)) {
                read.Take(strKey, CTrafficConfig::Set(strKey, strText, config.start, config.nStartKeys));
            } else {
                read.Fail(strKey, std::string("is not a key of a scenario (") + kTopKeys + ")");
            }
        }
        if (!read.Ok())
            return;
    }
}

// Where a number in the text cannot be read (too large for the reader, say):
// the key's place as the reader names it (stages[1].loss) and the number as
// written; false when every number reads.
bool FindUnreadableNumber(std::string_view json, std::string& strWhere, std::string& strNumber)
{
    struct Level {
        bool bObject;
        std::string strKey;
        size_t nIndex = 0;
    };
    std::vector<Level> levels;
    bool bKey = false;  // the next string is a key
    simdjson::dom::parser parser;
    for (size_t i = 0; i < json.size();) {
        const char c = json[i];
        if (c == '{' || c == '[') {
            levels.push_back({c == '{', std::string()});
            bKey = c == '{';
            ++i;
        } else if (c == '}' || c == ']') {
            if (!levels.empty())
                levels.pop_back();
            ++i;
        } else if (c == ',') {
            if (!levels.empty() && !levels.back().bObject)
                ++levels.back().nIndex;
            bKey = !levels.empty() && levels.back().bObject;
            ++i;
        } else if (c == '"') {
            size_t nEnd = i + 1;
            while (nEnd < json.size() && json[nEnd] != '"')
                nEnd += json[nEnd] == '\\' ? 2 : 1;
            if (bKey && !levels.empty())
                levels.back().strKey = std::string(json.substr(i + 1, nEnd - i - 1));
            bKey = false;
            i = nEnd + 1;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            size_t nEnd = i;
            while (nEnd < json.size() && std::string_view("+-.eE0123456789").find(json[nEnd]) != std::string_view::npos)
                ++nEnd;
            const std::string number(json.substr(i, nEnd - i));
            simdjson::dom::element value;
            if (parser.parse(number).get(value) != simdjson::SUCCESS) {
                strWhere.clear();
                for (const Level& level : levels) {
                    if (level.bObject)
                        strWhere += (strWhere.empty() ? "" : ".") + level.strKey;
                    else
                        strWhere += "[" + std::to_string(level.nIndex) + "]";
                }
                strNumber = number;
                return true;
            }
            i = nEnd;
        } else {
            ++i;
        }
    }
    return false;
}

}  // namespace

CStatus CScenario::ReadFile(const std::string& strPath, CTrafficConfig& config)
{
    std::string text;
    const CStatus read = CFileReader::ReadAll(strPath, kMaxFileBytes, "a scenario", text);
    if (!read.IsOk())
        return CStatus::Invalid(strPath + ": " + read.Message());
    return ReadText(strPath, text, config);
}

CStatus CScenario::ReadText(const std::string& strName, std::string_view json, CTrafficConfig& config)
{
    CTrafficConfig read;
    read.strScenario = strName;
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    const simdjson::error_code nParse = parser.parse(json.data(), json.size()).get(root);
    std::string strWhere;
    std::string strNumber;
    if (nParse != simdjson::SUCCESS && FindUnreadableNumber(json, strWhere, strNumber) && !strWhere.empty())
        return CStatus::Invalid(strName + ": " + strWhere + ": " + strNumber +
                                " cannot be read as a number (too large, or not one as JSON writes numbers)");
    if (nParse != simdjson::SUCCESS)
        return CStatus::Invalid(strName + ": not a scenario (not JSON: " + simdjson::error_message(nParse) + ")");
    simdjson::dom::object object;
    if (root.get_object().get(object) != simdjson::SUCCESS)
        return CStatus::Invalid(strName + ": not a scenario (not a JSON object)");
    CScenarioReader reader;
    ReadTop(reader, object, read);
    if (!reader.Ok())
        return CStatus::Invalid(strName + ": " + reader.Error());
    config = std::move(read);
    return CStatus();
}
