#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace qm {

// Fills a message template: "%N!s!" inserts the N-th text and "%N!d!" the N-th
// number (passed already as decimal text). Everything else is copied as is.
std::string FormatTemplate(std::string_view tmpl, std::initializer_list<std::string_view> inserts);

} // namespace qm
