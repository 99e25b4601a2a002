#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

class FileTransfer;

// File transfers that run at once on the calling thread, each moved on a little at every
// advance(). A redirect goes on as the next hop of the same transfer, inside the group.
// Every transfer added must outlive its time in the group; the group lets go of those still
// in it when it goes.
class TransferGroup {
 public:
  TransferGroup();
  ~TransferGroup();
  TransferGroup(const TransferGroup&) = delete;
  TransferGroup& operator=(const TransferGroup&) = delete;

  // False when the library could not make the group.
  bool ready() const;
  // Starts a prepared transfer among the others; false with the library's text when it refuses.
  bool add(FileTransfer& transfer, std::string& errorText);
  // Moves every transfer on, and hands back those that ended since, in the order they ended,
  // each out of the group and ready for its finish().
  std::vector<FileTransfer*> advance();
  // Waits for the network, at most `timeout`.
  void wait(std::chrono::milliseconds timeout);

 private:
  struct Multi;
  std::unique_ptr<Multi> multi_;
};
