// PLACEHOLDER: replaced by the simulated network.
#include "lon/lns.h"
CLns* CLns::GetLnsObject(int, int, int, char, const char*, const char*, const char*) { return nullptr; }
int CLns::Init(void*, int) { return 1; }
int CLns::Open(const char*, const char*, const char*, const char*) { return 1; }
int CLns::Browse(int, int, LnsTreeControl*, const char*) { return 1; }
int CLns::AddListener(ILnsListener*) { return 1; }
int CLns::EnableNotifyListeners(int) { return 1; }
void CLns::Release() {}
int CLns::IsFound(const char*, int*) { return 0; }
int32_t CLns::GetAppDeviceHandle(const char*) { return -1; }
CNVItem* CLns::AddNV(const char*, int*) { return nullptr; }
int CLns::SplitNVFName(const char*, std::string&, std::string&) { return 1; }
int CLns::NVFNameToIndex(CNVItem*, const char*) { return -1; }
int CLns::AddNVF(CNVItem*, const char*, int) { return 1; }
int CLns::GetNVStat(CNVItem*, NVStructStat*) { return 1; }
int CLns::SetNVFormatType(CNVItem*, VARTYPE) { return 1; }
int CLns::SetNVFFormatType(CNVItem*, int, VARTYPE) { return 1; }
int CLns::PollNV(CNVItem*, int, int) { return 1; }
int CLns::PollNVF(CNVItem*, int, int, int) { return 1; }
int CLns::BindNV(CNVItem*, BoundOpt, int) { return 1; }
int CLns::BindNVF(CNVItem*, int, BoundOpt, int) { return 1; }
int CLns::ReadNV(CNVItem*, VARIANT*, int) { return 1; }
int CLns::ReadNVF(CNVItem*, int, VARIANT*, int) { return 1; }
int CLns::WriteNV(CNVItem*, VARIANT*) { return 1; }
int CLns::WriteNVF(CNVItem*, int, VARIANT*) { return 1; }
int CLns::TestNodeByHandle(int32_t, int) { return 1; }
int CLns::AddListener(CNVItem*, uint32_t) { return 1; }
int CLns::AddListener(CNVItem*, int, uint32_t) { return 1; }
int CLns::RemoveListener(CNVItem*, uint32_t) { return 1; }
int CLns::RemoveListener(CNVItem*, int, uint32_t) { return 1; }
int CLns::IsListener(CNVItem*, uint32_t) { return 1; }
int CLns::IsListener(CNVItem*, int, uint32_t) { return 1; }
int CLns::GetListenersCount(CNVItem*) { return 0; }
int CLns::GetListenersCount(CNVItem*, int) { return 0; }
int CLns::MonitorNV(CNVItem*, int) { return 1; }
int CLns::MonitorNVF(CNVItem*, int, int) { return 1; }
int CLns::SetNVPollingRate(CNVItem*, int) { return 1; }
int CLns::SetNVFPollingRate(CNVItem*, int, int) { return 1; }
CLnsArchive::CLnsArchive(const char*, LnsTreeControl* tree, int depth, int filter)
    : tree_(tree), depth_(depth), messageFilter_(filter) {}
CLnsArchive::~CLnsArchive() {}
int CLnsArchive::Serialize() { return 1; }
