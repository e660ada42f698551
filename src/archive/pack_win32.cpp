// The Windows packer: each job is written and compressed as it comes, on
// the calling thread, straight into the archive. The program runs on one
// thread and carries no threading runtime.
#include <cstdlib>

#include "archive/pack.h"
#include "codec/encoder.h"

struct Packer {
  ArchiveOutput output;
  Encoder* encoder;
  PackJob job;
};

Packer* StartPacker(const ArchiveOutput& output, int) {
  Packer* packer = static_cast<Packer*>(malloc(sizeof(Packer)));
  if (!packer) return nullptr;
  packer->output = output;
  packer->encoder = NewEncoder();
  if (!packer->encoder) {
    free(packer);
    return nullptr;
  }
  return packer;
}

PackJob* NextJob(Packer* packer) {
  ResetJob(&packer->job);
  return &packer->job;
}

void SubmitJob(Packer* packer, PackJob* job) {
  WriteJobStart(&packer->output, job);
  if (job->size != 0) {
    job->result = EncodeStream(packer->encoder, job->input, job->size, &job->carry, WriteToArchive,
                               &packer->output, &job->coded_size);
    fclose(job->input);
    job->input = nullptr;
  }
  WriteJobEnd(&packer->output, job);
}

bool IsArchiveItself(Packer*, FILE*) { return false; }  // nothing runs ahead of the archive

void DrainPacker(Packer* packer) { fflush(packer->output.archive); }

ArchiveOutput FinishPacker(Packer* packer) {
  ArchiveOutput output = packer->output;
  FreeEncoder(packer->encoder);
  free(packer);
  return output;
}
