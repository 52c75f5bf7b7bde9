#pragma once

#include <optional>
#include <string>
#include <vector>

// One threshold's verdict on a run's figures, as the records keep it: the
// expression as given, the value measured and whether it held. A figure that
// had no samples in the run (a round trip when no reply came) has no value,
// and its threshold is crossed: a verdict needs evidence. A plain value; any
// thread.
struct CVerdict {
    std::string strExpression;
    std::optional<double> value;  // none: no data
    bool bOk = true;

    // The verdicts as a stats file holds them: an array of
    // {"expression","value","ok"}, the value null when there was no data.
    static void AppendJson(std::string& out, const std::vector<CVerdict>& verdicts);
    // The value as files and reports show it ("0.412"), or "no data".
    std::string ValueText() const;
};
