// Faces that the programs name but that a Linux machine does not have, each with the free faces
// that stand in for it. Without a stand-in fontconfig gives its default sans, whose proportions
// can be far from the named face's: text laid out for the named face then runs past where it was
// meant to end.
#pragma once

#include <string>
#include <vector>

// The families to ask for after `family`, nearest first; empty when it has none. Face names are
// compared without regard to case, as the system's own font mapper does.
const std::vector<std::string>& FontSubstitutesFor(const std::string& family);
