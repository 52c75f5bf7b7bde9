#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/CStatus.h"
#include "packet/CMessageTemplate.h"

// The small grammar the traffic options share: numbers, probabilities,
// lists split at the commas that are not inside parentheses, KEY=VALUE
// items and calls NAME(ARG,...); and the form of their refusals. Stateless;
// any thread.
class COptionText {
public:
    // The largest size of a number a generator or a delay takes: well inside
    // what a double holds exactly in its integer part.
    static constexpr double kMaxMagnitude = CMessageTemplate::kMaxGeneratedMagnitude;

    // A decimal number: an optional sign, digits with an optional fraction,
    // an optional exponent; nothing else (no blanks, no "inf", no hex).
    static bool ReadNumber(std::string_view text, double& dValue);
    // A probability: a number from 0 to 1, or a percentage from 0% to 100%.
    static bool ReadProbability(std::string_view text, double& dValue);
    // The items between the commas that are outside parentheses; an empty
    // text is one empty item.
    static std::vector<std::string> SplitList(std::string_view text);
    // "KEY=VALUE": true with both parts when the item has a '=' outside
    // parentheses.
    static bool SplitKeyValue(std::string_view item, std::string& strKey, std::string& strValue);
    // "NAME(ARG,...)": true with the name and the arguments when the text
    // is a name of lower-case letters and a parenthesised list that ends it.
    static bool SplitCall(std::string_view text, std::string& strName, std::vector<std::string>& args);
    // "'TEXT'", for messages.
    static std::string Quoted(std::string_view text);
    // A usage error that names the text as given and says what is wrong:
    // "'TEXT' " and strWrong.
    static CStatus Refuse(std::string_view text, const std::string& strWrong);
    // What Refuse said is wrong with text, without the text: for a refusal
    // of a part that its whole goes on to name.
    static std::string Reason(const CStatus& refusal, std::string_view text);
};
