#pragma once
// What the steps of one product (its pictures, its description) need to know about their
// run.

#include <string>
#include <string_view>

#include "model/batch_model.hpp"

namespace vq {

class PictureSource;

// What the steps of one product need to know about their run: where to log, the numbers
// of their log lines, where pictures go and the options in force.
struct ProductContext {
    LogSink* log = nullptr;
    const Clock* clock = nullptr;
    int worker = 0;          // t, 1..the run's workers
    int productNumber = 0;   // n
    int productCount = 0;    // N
    std::string packageFolder;  // outputFolder + packageName, no trailing separator
    PackageFormat outputFormat = kDefaultFormat;
    FailurePolicy pictureFailurePolicy = FailurePolicy::None;
    int keepPictures = 0;  // main pictures kept, 0 = all
    const LiveOptions* options = nullptr;
    // Stamps of main picture names; null = the process's one sequence.
    MillisSequence* millis = nullptr;
    // Where pictures are fetched from; null = the network.
    PictureSource* pictures = nullptr;

    // Where a picture the disk refused is reported; null = nowhere.
    WriteTrouble* writeTrouble = nullptr;

    // Appends the time stamp followed by text (which ends with "\r\n") as one line.
    void log_line(std::string_view text) const;
    // A picture that could not be written at gbk_path (error: the system's number, 0 when
    // unknown).
    void report_unwritable(int error, std::string_view gbk_path) const;
};

}  // namespace vq
