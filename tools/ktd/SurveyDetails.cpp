#include "tools/ktd/SurveyDetails.h"

#include <cstdio>

#include "analysis/SideDetails.h"

namespace ketrion::ktd {

namespace {

std::string Points(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " point" : " points");
}

void SayLeftOut(const analysis::LeftOut& leftOut) {
    const std::string text = LeftOutText(leftOut);
    if (text.empty())
        return;
    std::fflush(stdout);
    std::fprintf(stderr, "ktd: %s\n", text.c_str());
}

}  // namespace

void JoinSideStore(analysis::SurveyRecords& records) {
    std::string message;
    analysis::AttachSideDetails(records, &message);
    if (!message.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "ktd: %s\n", message.c_str());
    }
}

void SelectSurvey(analysis::SurveyRecords& records, const analysis::Selection& selection) {
    JoinSideStore(records);
    SayLeftOut(analysis::SelectPoints(records, selection));
}

void SelectSurvey(analysis::PlacedSurvey& survey, const analysis::Selection& selection) {
    JoinSideStore(survey.records);
    SayLeftOut(analysis::SelectPoints(survey, selection));
}

std::string LeftOutText(const analysis::LeftOut& leftOut) {
    if (leftOut.Total() == 0)
        return {};
    std::string text = "left out: ";
    if (leftOut.deleted > 0)
        text += Points(leftOut.deleted) + " marked deleted";
    if (leftOut.noFix > 0) {
        if (leftOut.deleted > 0)
            text += ", ";
        text += Points(leftOut.noFix) +
                " without a valid GPS fix or not yet placed (--include-no-fix uses " +
                (leftOut.noFix == 1 ? "it)" : "them)");
    }
    return text;
}

void AddIncludeNoFix(CLI::App& command, analysis::Selection& selection) {
    command.add_flag("--include-no-fix", selection.includeNoFix,
                     "use the points taken without a valid GPS fix, with a stale one or not yet "
                     "placed on a walk (the side store marks them; left out by default). Points "
                     "marked deleted are always left out");
}

}  // namespace ketrion::ktd
