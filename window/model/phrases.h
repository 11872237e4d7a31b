// The phrases the model words its texts in: the states, the counts, the
// status bar, the log, the details and the attention list. Their texts are
// the window's resources (app/window.rc), one string table a language; the
// model asks for them by identifier and puts its values in. What the engine
// says in words of its own (why a folder failed or is skipped, a warning, a
// problem) is shown as the engine says it. The resource compiler reads the
// #defines alone.
#pragma once

#define IDS_STATE_PENDING 400
#define IDS_STATE_CURRENT 401
#define IDS_STATE_MISSING 402
#define IDS_STATE_STALE 403
#define IDS_STATE_WRITTEN 404
#define IDS_STATE_FAILED 405
#define IDS_STATE_SKIPPED 406
#define IDS_STATE_LINK 407
#define IDS_STATE_REFUSED 408
#define IDS_WARNING 409
#define IDS_LABEL 410
#define IDS_LABEL_WHY 411
#define IDS_STATUS_CHECKING 412
#define IDS_STATUS_UPDATING 413
#define IDS_STATUS_REFUSED 414
#define IDS_STATUS_STOP 415
#define IDS_STATUS_AS_OF 416
#define IDS_FOLDERS_ONE 417
#define IDS_FOLDERS 418
#define IDS_MANIFESTS_ONE 419
#define IDS_MANIFESTS 420
#define IDS_COUNTS_CHECKED 421
#define IDS_COUNTS_UPDATED 422
#define IDS_COUNTS_WARNINGS_ONE 423
#define IDS_COUNTS_WARNINGS 424
#define IDS_COUNTS_LEFTOVERS_ONE 425
#define IDS_COUNTS_LEFTOVERS 426
#define IDS_SUMMARY_SECONDS 427
#define IDS_STOP_OUT_OF_MEMORY 428
#define IDS_STOP_OUTPUT_FAILED 429
#define IDS_STOPPED 430
#define IDS_DETAILS_STATE 431
#define IDS_DETAILS_WHY 432
#define IDS_DETAILS_WARNING 433
#define IDS_ENTRY_MISSING 434
#define IDS_ENTRY_STALE 435
#define IDS_ENTRY_NO_LINES 436
#define IDS_LINES_REORDERED 437
#define IDS_LINES_AGREE 438
#define IDS_BRIEF_ADD_ONE 439
#define IDS_BRIEF_ADD 440
#define IDS_BRIEF_REMOVE 441
#define IDS_BRIEF_BOTH 442
#define IDS_BRIEF_NONE_YET 443
#define IDS_LOG_WROTE 444
#define IDS_LOG_REMOVED 445
#define IDS_LOG_WATCHING 446
#define IDS_LOG_NO_LONGER_KEPT 447
#define IDS_COULD_NOT_START 448
#define IDS_REMOVED_WHILE_KEPT 449
#define IDS_SKIP_DOT_NAME 450
#define IDS_SKIP_HIDDEN_ATTRIBUTE 451
#define IDS_SKIP_EXCLUDED 452
#define IDS_SKIP_IGNORED 453
#define IDS_SKIP_HOLDS_BACKSLASH 454
#define IDS_SKIP_LINK 455
#define IDS_LINES_TOO_LARGE 456

#ifndef RC_INVOKED
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace window {

// A phrase by its identifier with its numbered arguments put in, in the
// language the window speaks.
using Phrases = std::function<std::string(unsigned id, const std::vector<std::string>& arguments)>;

// The numbered arguments put into a format string as FormatMessageW puts
// them: %1 to %99 the arguments (one not given stays as written), %% a
// percent sign, %n a line end; anything else as it is. An argument is never
// read as a format itself.
std::string FillIn(std::string_view format, const std::vector<std::string>& arguments);

// The numbered arguments a format string takes, in ascending order, each
// once.
std::vector<unsigned> Arguments(std::string_view format);

}  // namespace window
#endif
