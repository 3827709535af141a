// The words both readers know: functions, constants and the Greek letters of LaTeX.
#pragma once

#include <optional>
#include <string_view>

namespace tavrelo::reading {

enum class Function : unsigned char { Sin, Cos, Tan, Log, Exp, Sqrt, Cbrt };

// sin cos tan log ln sqrt cbrt exp, as typed before "(".
[[nodiscard]] std::optional<Function> typed_function(std::string_view word);
// \sin \cos \tan \ln \log \exp (the word after the backslash).
[[nodiscard]] std::optional<Function> latex_function(std::string_view command);
// \alpha ... \omega and the capitals LaTeX has (\Gamma, \Delta, ...), \pi excepted.
[[nodiscard]] bool is_greek_command(std::string_view command);
// Commands that only space the text (\quad, \qquad); the one-character ones are handled apart.
[[nodiscard]] bool is_spacing_command(std::string_view command);

}  // namespace tavrelo::reading
