// The stored forms of both programs' main windows, as stored-form text: the components with the
// properties their Parts give, the game's twelve pictures and five sounds, the editor's eight
// drum sounds. Also the C++ source that builds the text into a program.
#pragma once

#include <string>

namespace assets {

std::string GameFormText();
std::string EditorFormText();

// A source file defining `const std::string& <name>Resource()` and
// `void Register<name>Resource()`, which registers the text under "TForm1".
std::string FormSource(const std::string& name, const std::string& text);

}  // namespace assets
