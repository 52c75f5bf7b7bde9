#include "traffic/CScenario.h"

#include <simdjson.h>

#include "load/CFileReader.h"
#include "packet/CJsonText.h"
#include "traffic/CDelay.h"
#include "traffic/COptionText.h"

namespace {

const char kTopKeys[] = "seed, vary, loss, duplicate, reorder, jitter, corrupt, churn, outage, stages";
const char kStageKeys[] = "at, loss, duplicate, reorder, jitter, corrupt, churn, outage, devices, ramp";

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
    for (const simdjson::dom::key_value_pair member : object) {
        const std::string strKey(member.key);
        const std::string strAt = strWhere + "." + strKey;
        std::string strText;
        if (!read.Ok() || !read.Text(strAt, member.value, strText))
            return;
        std::string strWrong;
        if (strKey == "at") {
            bAt = CDelay::ReadDuration(strText, stage.nAtNs);
            if (!bAt)
                strWrong = std::string("is not a duration (") + CDelay::DurationForm() + ")";
        } else if (strKey == "outage") {
            COutage outage;
            if (COutage::Read(strText, false, outage, strWrong))
                stage.outage = outage;
        } else if (strKey == "devices") {
            CTrafficConfig::ReadDevices(strText, stage, strWrong);
        } else if (strKey == "ramp") {
            bRamp = true;
            if (!CDelay::ReadDuration(strText, stage.nRampNs))
                strWrong = std::string("is not a duration (") + CDelay::DurationForm() + ")";
        } else if (!CTrafficConfig::Set(strKey, strText, stage.settings, stage.nKeys, strWrong) && strWrong.empty()) {
            read.Fail(strAt, std::string("is not a key of a stage (") + kStageKeys + ")");
            return;
        }
        if (!strWrong.empty())
            read.Fail(strAt, COptionText::Quoted(strText) + " " + strWrong);
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
    for (const simdjson::dom::key_value_pair member : object) {
        const std::string strKey(member.key);
        std::string strWrong;
        if (strKey == "stages") {
            ReadStages(read, member.value, config);
        } else if (strKey == "vary") {
            read.EachText(strKey, member.value, [&](const std::string& strWhere, const std::string& strText) {
                CTrafficConfig::Vary vary;
                std::string strVaryWrong;
                if (!CTrafficConfig::ReadVary(strText, vary, strVaryWrong) || !config.AddVary(vary, strVaryWrong))
                    read.Fail(strWhere, COptionText::Quoted(strText) + " " + strVaryWrong);
            });
        } else if (strKey == "outage") {
            read.EachText(strKey, member.value, [&](const std::string& strWhere, const std::string& strText) {
                COutage outage;
                std::string strOutageWrong;
                if (COutage::Read(strText, true, outage, strOutageWrong))
                    config.outages.push_back(outage);
                else
                    read.Fail(strWhere, COptionText::Quoted(strText) + " " + strOutageWrong);
            });
        } else {
            std::string strText;
            if (!read.Text(strKey, member.value, strText))
                return;
            uint64_t nSeed = 0;
            if (strKey == "seed") {
                if (CTrafficConfig::ReadSeed(strText, nSeed, strWrong))
                    config.seed = nSeed;
            } else if (!CTrafficConfig::Set(strKey, strText, config.start, config.nStartKeys, strWrong) &&
                       strWrong.empty()) {
                read.Fail(strKey, std::string("is not a key of a scenario (") + kTopKeys + ")");
            }
            if (!strWrong.empty())
                read.Fail(strKey, COptionText::Quoted(strText) + " " + strWrong);
        }
        if (!read.Ok())
            return;
    }
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
