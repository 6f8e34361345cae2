// Export: the six buttons of the "export" tab write the result list to a file the user
// picks, as comma, newline or tab delimited text, as JSON, as XML or as a CSV table.
#pragma once

#include <cstdint>
#include <string>

namespace evaluator {

// Gadget is one of the export buttons, ExportCommaButton to ExportCsvTableButton. Runs on the UI
// thread; a worker may still be adding records meanwhile.
void Export(std::int64_t gadget);

// The name the save chooser proposes: the input file's name without extension, "_export."
// and the button's extension.
std::u16string ProposedExportName(std::int64_t gadget);

}  // namespace evaluator
