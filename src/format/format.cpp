#include "format/format.hpp"

#include "edit/style.hpp"
#include "format/check.hpp"
#include "format/writer.hpp"
#include "parser/parser.hpp"

namespace quarel {

std::variant<bool, EditError> format_document(Body& root, const FormatOptions& options,
                                              std::vector<TextChange>* changes) {
    const ShownStyle shown = shown_style(root);
    const std::string step = options.indent.value_or(shown.step.value_or("  "));
    const std::string newline = options.newline.value_or(shown.newline.value_or("\n"));
    // Without a step of its own, the document's expressions are taken as
    // indented in the new one, so that formatting twice changes nothing.
    const std::string old_step = shown.step.value_or(step);
    Formatter formatter(options, root, {old_step, step, newline});
    if (!formatter.document(root)) return make_error(ErrorCode::pair_busy);
    auto parsed = parse(formatter.out);
    auto* formatted = std::get_if<Body>(&parsed);
    std::optional<std::string> difference =
        formatted ? first_difference(root, *formatted) : std::optional<std::string>("/");
    if (difference) return make_error(ErrorCode::format_changes_meaning, {*difference});
    return adopt_layout(root, *formatted, changes);
}

} // namespace quarel
