// Export: the five buttons of the "export" tab write the result list to a file the user
// picks, as comma, newline or tab delimited text, as JSON or as XML.
#pragma once

#include <cstdint>
#include <string>

namespace evaluator {

// Gadget is one of the export buttons, ExportCommaButton to ExportXmlButton. Runs on the UI
// thread; a worker may still be adding records meanwhile.
void Export(std::int64_t gadget);

// The name the save chooser proposes: the input file's name without extension, "_export."
// and the button's extension.
std::u16string ProposedExportName(std::int64_t gadget);

}  // namespace evaluator
