// The phrases the model words its texts in: the states, the counts, the
// status bar, the log, the details and the attention list. Their texts are
// the window's resources (app/window.rc), one string table a language; the
// model asks for them by identifier and puts its values in: the engine says
// what happened as a code and its values (why a folder failed or is
// skipped, a warning, a problem), and the model words each code; what the
// engine says in words alone is shown as it says it. The resource compiler
// reads the #defines alone.
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
#define IDS_FAIL_CANNOT_LIST 457
#define IDS_FAIL_CANNOT_READ 458
#define IDS_FAIL_CANNOT_READ_SKIPPED 459
#define IDS_FAIL_CANNOT_WRITE 460
#define IDS_FAIL_WRITE_REFUSED 461
#define IDS_REFUSED_FOLDER 462
#define IDS_REFUSED_READ_ONLY 463
#define IDS_REFUSED_HIDDEN 464
#define IDS_REFUSED_SYSTEM 465
#define IDS_WARN_DATA_MANIFEST 466
#define IDS_WARN_LEFT_OUT 467
#define IDS_LEFT_OUT_BACKSLASH 468
#define IDS_LEFT_OUT_CONTROLS 469
#define IDS_LEFT_OUT_NOT_UTF8 470
#define IDS_PROBLEM_ROOT 471
#define IDS_ROOT_NO_SUCH_FOLDER 472
#define IDS_ROOT_NO_MOD_AT_ROOT 473
#define IDS_ROOT_HOLDS_BACKSLASH 474
#define IDS_ROOT_NOT_A_FOLDER 475
#define IDS_PROBLEM_CANNOT_WATCH 476
#define IDS_PROBLEM_WATCH_UNWORKABLE 477
#define IDS_PROBLEM_STOPPED_WATCHING 478
#define IDS_PROBLEM_OUTPUT_FAILED 479
#define IDS_NOTE_CANNOT_WATCH 480
#define IDS_NOTE_POLLING_UNSEEN 481
#define IDS_NOTE_POLLING_AS_ASKED 482
#define IDS_UNSEEN_NETWORK_SHARE 483
#define IDS_WATCH_ROOT_REMOVED 484
#define IDS_WATCH_ROOT_MOVED 485
#define IDS_WATCH_ROOT_UNMOUNTED 486
#define IDS_WATCH_ABOVE_UNUSABLE 487
#define IDS_NOTICE_VANISHED 488
#define IDS_NOTICE_BECAME_LINK 489
#define IDS_NOTICE_NO_FOLDER 490
#define IDS_NOTICE_VANISHED_UNWRITTEN 491
#define IDS_IGNORE_TOO_LARGE 492
#define IDS_IGNORE_NOT_UTF8 493
#define IDS_IGNORE_CONTROL 494
#define IDS_IGNORE_PATH 495
#define IDS_ERROR_NUMBERED 496
#define IDS_ERROR_NO_TEXT 497
#define IDS_ERROR_IS_LINK 498
#define IDS_ERROR_IS_FOLDER 499
#define IDS_ERROR_NOT_REGULAR_FILE 500

#ifndef RC_INVOKED
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace window {

// A phrase by its identifier with its numbered arguments put in, in the
// language the window speaks.
using Phrases = std::function<std::string(unsigned id, const std::vector<std::string>& arguments)>;
// The words of a system error number in the language the window speaks.
using ErrorWords = std::function<std::string(unsigned long error)>;

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
