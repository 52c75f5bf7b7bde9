#include "figures/CVerdict.h"

#include "figures/CJsonWriter.h"

void CVerdict::AppendJson(std::string& out, const std::vector<CVerdict>& verdicts)
{
    CJsonWriter::Array(out, verdicts, [](std::string& text, const CVerdict& verdict) {
        CJsonWriter members(text);
        members.Text("expression", verdict.strExpression);
        if (verdict.value)
            members.Number("value", *verdict.value, "%.6g");
        else
            members.Null("value");
        members.Flag("ok", verdict.bOk);
        members.End();
    });
}

std::string CVerdict::ValueText() const
{
    if (!value)
        return "no data";
    std::string text;
    CJsonWriter::AppendNumber(text, *value, "%.6g");
    return text;
}
