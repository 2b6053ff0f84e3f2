// The settlement report: walks the communities of the range, computes each
// community's figures (carried balance, collections, month count, fee and
// its section) and prints its statement copies section by section through
// the statement layout. Everything but the parameters comes from the report
// context (driver/report_context.h). The report only reads the data files;
// it does overwrite fields of the expense-type, owner and receipt-type record
// buffers with defaults before a lookup, so that a failed lookup leaves the
// defaults in place.
#ifndef TELVORAN_DRIVER_REPORT_H_
#define TELVORAN_DRIVER_REPORT_H_

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "driver/module_state.h"
#include "driver/report_context.h"
#include "driver/statement_layout.h"

namespace driver {

// The figures of one community, computed once for all its copies.
struct CommunityFigures {
  std::array<std::string, 9> titles;  // sections 1..8; [0] unused
  int32_t month_count = 0;
  float vat_rate = 0;
  float withholding_rate = 0;
  int32_t owner_count = 0;
  int64_t collections = 0;
  int64_t carried_balance = 0;
  int64_t fee = 0;
  int fee_group = 1;
  std::vector<CommunityOwner> owners;  // every owner record, in key order
};

// The widest amount the fee arithmetic hands on, in cents. Far past what a
// statement's amount mask can show (an amount beyond prints in the mask's
// overflow form), and small enough that the statement's sums of 32-bit
// record amounts and the fee never overflow 64 bits.
inline constexpr int64_t kFeeLimit = int64_t{1} << 53;

// The fee base: owners x monthly fee x months, exact, held to +-kFeeLimit.
int64_t FeeBase(int64_t owners, int32_t monthly_fee, int64_t months);

// The fee: base + VAT - withholding, each percentage of the base rounded to
// whole cents, ties to even; exact for every float rate and 64-bit base,
// then held to +-kFeeLimit (a rate of 1e30 percent prints as overflow, it
// never wraps).
int64_t ComputeFee(int64_t base, float vat_rate, float withholding_rate);

// rate x base / 100 rounded to the nearest integer, ties to even, computed
// exactly from the float's binary value.
int64_t RoundedPercent(float rate, int64_t base);

// True when the fee bears withholding: the administrator's identification
// is Spanish and not of a company (third character below "A" or above "W")
// and the community's is Spanish of an entity ("A" to "W").
bool WithholdingApplies(const std::string& administrator_tax_id,
                        const std::string& community_tax_id);

// Called before each community's statements: the community's position in
// the range (from 1) and its packed code.
using ReportProgress = std::function<void(int index, const std::string& code)>;

// Prints every community of the range through ctx.channel, open, with the
// print currency already selected. A failed read is noted in
// ctx.read_failure. False when ctx.stop_requested stopped it.
bool PrintAllCommunities(ReportContext& ctx, const ReportParameters& parameters,
                         const ReportProgress& progress);

// The number of communities in the range (for progress display).
int CountCommunities(ReportContext& ctx, const ReportParameters& parameters);

// One print run: opens ctx.channel on the print file of ctx.settings'
// temporary folder and their output device, selects the print currency,
// prints all communities, returns to the main currency, closes the channel
// and (when asked) runs the print program of ctx.settings' program folder
// and waits for it. *message: what the user is told; for kOk the print
// program's last line when it was captured (empty otherwise).
enum class PrintRunResult {
  kOk,
  kPrintFileFailed,      // the print file could not be created or written
  kPrintProgramMissing,  // the print program could not be started
  kPrintProgramFailed,   // it ran and reported failure
  kDataReadFailed,       // a data file read failed (not end of data): nothing printed
  kPrintFileInUse,       // another print run uses the temporary folder: nothing printed
  // ctx.stop_requested said so: no print file, nothing more handed on;
  // *message empty, unless the print program had already handed the pages
  // to the printer (its output said so), which *message then tells
  kStopped,
};
// A run that prints writes its statement register beside the print file
// (RegisterFilePath), put in place after it. Every result but kOk and
// kPrintFileInUse removes the print file and the register an earlier run
// left (under the run's lock, which kPrintFileInUse did not
// get), so the print file present is always the last successful run's.
PrintRunResult RunPrintRun(ReportContext& ctx, const ReportParameters& parameters,
                           bool run_print_program, const ReportProgress& progress,
                           std::string* message);

// What the user is told after a run that printed when its report date is
// on or before the previous settlement of communities of its range
// (ctx.settled_after_report_date): their statements' period ends before it
// starts and their fee counts no or negative months. Names the first
// kWarnedCommunities by code, with their name when it is at most
// kWarnedNameLength characters, then how many more; empty when there is
// none. The print file is as it always was.
inline constexpr size_t kWarnedCommunities = 5;
inline constexpr size_t kWarnedNameLength = 24;
std::string ReportDateWarning(const ReportContext& ctx);

// For a program that ends before its print run because it cannot start one
// (a data file that cannot be opened, a form file it cannot use): removes
// the print file of an earlier run of settings' temporary folder, as a
// failed print run does. Nothing when another run holds the folder (false
// then).
bool RemovePrintFileOfEarlierRun(const config::Settings& settings);

// The statement register of a print run (platform/statement_register.h),
// beside its print file.
std::string RegisterFilePath(const config::Settings& settings);

}  // namespace driver

#endif  // TELVORAN_DRIVER_REPORT_H_
