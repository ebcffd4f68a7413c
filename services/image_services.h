#pragma once
// PICKCOLOR (the request id), OCR and THUMB. Main thread; each request is
// answered exactly once, by the desktop's work when it completes, from whatever
// thread that runs on.

#include <memory>
#include <string>

#include "core/records.h"

void do_pickcolor(void* w, std::unique_ptr<std::string> record);
void do_ocr(void* w, std::unique_ptr<OcrReq> q);
void do_thumb(void* w, std::unique_ptr<ThumbReq> q);
