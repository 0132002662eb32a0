// A build without the chart library (no npm at configure time): tessaray-report says so for --html.
#include "report/html_assets.h"

namespace corva::report {

const HtmlAssets* htmlAssets() {
    return nullptr;
}

}  // namespace corva::report
