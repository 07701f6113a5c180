// The resume window's run over a 1 MiB gap against a bare loop of the same
// one-byte file calls, in the same process, with the real window visible.
// Prints the figures and "resume: ratio R" (the run's time over the bare loop's).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "ui/Application.h"
#include "ui/ResumeForm.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace {

constexpr int64_t kGap = 1 << 20;
constexpr int64_t kKept = 4096;  // the destination's bytes before the gap

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER f) {
  return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileW(sk::win::Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD done = 0;
  if (h == INVALID_HANDLE_VALUE || !WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr)) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  CloseHandle(h);
}

// The resume step without the window: position and size of the source, a
// one-byte read, a one-byte write, the destination's and the source's size.
void BareLoop(const std::string& source, const std::string& destination) {
  sk::win::WinFileSystem fs;
  auto src = fs.Open(source, sk::OpenMode::ReadShared);
  auto dst = fs.Open(destination, sk::OpenMode::WriteExisting);
  const int64_t n = dst->Size();
  src->Seek(n);
  dst->Seek(n);
  unsigned char byte = 0;
  volatile int64_t sink = 0;
  while (src->Position() < src->Size()) {
    if (src->Read(&byte, 1) != 1) throw sk::FileError("Read beyond end of file");
    if (dst->Write(&byte, 1) != 1) throw sk::FileError("Disk full");
    const int64_t position = dst->Size();
    sink = src->Size() - position;
  }
  (void)sink;
  src->Close();
  dst->Close();
}

}  // namespace

int wmain() {
  sk::ui::InitControls();
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::string dir = sk::win::Narrow(temp);
  const std::string source = dir + "resume_bench_src.bin";
  const std::string destination = dir + "resume_bench_dst.bin";
  std::string bytes(static_cast<size_t>(kKept + kGap), '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + 7);
  WriteBytes(source, bytes);
  const std::string kept = bytes.substr(0, static_cast<size_t>(kKept));

  sk::ui::TForm3 form;
  form.Create();
  form.ShowModeless();
  sk::ui::PumpMessages();
  form.AddPair(source, destination);

  LARGE_INTEGER f{};
  QueryPerformanceFrequency(&f);
  std::vector<double> bare, resume;
  int failures = 0;
  sk::ui::SetErrorSink([](const std::string& text) { std::fprintf(stderr, "error: %s\n", text.c_str()); });
  for (int round = 0; round < 3; ++round) {
    LARGE_INTEGER a{}, b{};
    WriteBytes(destination, kept);
    QueryPerformanceCounter(&a);
    BareLoop(source, destination);
    QueryPerformanceCounter(&b);
    bare.push_back(Seconds(a, b, f));

    WriteBytes(destination, kept);
    QueryPerformanceCounter(&a);
    form.Button1Click();
    QueryPerformanceCounter(&b);
    resume.push_back(Seconds(a, b, f));
    sk::win::WinFileSystem fs;
    if (fs.FileSizeByName(destination) != kKept + kGap) ++failures;
  }
  DeleteFileW(sk::win::Widen(source).c_str());
  DeleteFileW(sk::win::Widen(destination).c_str());

  std::sort(bare.begin(), bare.end());
  std::sort(resume.begin(), resume.end());
  const double us = 1e6 / static_cast<double>(kGap);
  std::printf("bare loop:  %.3f s for 1 MiB (%.2f us/byte), median of 3\n", bare[1], bare[1] * us);
  std::printf("resume run: %.3f s for 1 MiB (%.2f us/byte), median of 3\n", resume[1], resume[1] * us);
  std::printf("resume: ratio %.2f\n", resume[1] / bare[1]);
  if (failures) std::printf("resume: %d runs did not end with the whole file\n", failures);
  return failures ? 1 : 0;
}
