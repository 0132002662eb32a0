// What the HTML report embeds: the chart library with its licence and the page's own script
// and style, compiled in at build time (report/html/, the library installed by npm).
#pragma once

#include <string_view>

namespace corva::report {

struct HtmlAssets {
    std::string_view chartJs;
    std::string_view chartCss;
    std::string_view chartLicence;
    std::string_view pageJs;
    std::string_view pageCss;
};

// Null when this build has no chart library (configured without npm): no HTML page then.
const HtmlAssets* htmlAssets();

}  // namespace corva::report
