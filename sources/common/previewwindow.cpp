#include "previewwindow.h"

#include <algorithm>
#include <vector>

#include "common/page.h"

PreviewWindowEnd WalkPreviewWindow(size_t pageCount, const WindowStart& start, int windowRows,
                                   const PreviewWindowSteps& steps) {
  PreviewWindowEnd end;
  std::vector<BYTE> page(kPageSize);
  size_t position = start.posPage.value_or(0);
  int slot = std::max(start.nSlotIndex, 0);
  size_t endPage = position;
  int endSlot = slot;
  end.reachedEnd = position >= pageCount;
  for (; position < pageCount; ++position, slot = 0) {
    if (steps.superseded()) {
      end.abandoned = true;
      return end;
    }
    int next = slot;
    int count = 0;
    if (steps.readPage(position, page.data())) {
      count = SlotCountCapped(page.data());
      while (next < count) {
        const WORD entry = steps.slotEntry(page.data(), next);
        ++next;
        if (entry == 0) continue;
        if (steps.superseded()) {
          end.abandoned = true;
          return end;
        }
        steps.decodeRow(page.data(), entry);
        if (steps.rows() >= windowRows) break;
      }
    }
    const bool lastPage = position + 1 == pageCount;
    if (steps.rows() >= windowRows || lastPage) {
      endPage = position;
      endSlot = next;
      // The last window is the one that read the last page to its end: rows left on that
      // page after a full window still get a window of their own.
      end.reachedEnd = lastPage && next >= count;
      break;
    }
  }
  end.next = WindowStart{PagePosition(endPage), 2 * (endSlot + 1), endSlot};
  return end;
}

WindowRequest ChooseWindowStart(const CSQLServer& e, const WindowStart& next) {
  const WindowStart first{PagePosition(0), 2, 0};
  WindowRequest r;
  r.start = first;
  r.paging = e.m_bPaging != 0;
  if (e.m_stkWindowStarts.empty() && !r.paging) {
    r.start = first;
  } else if (e.m_bPageForward != 0) {
    if (next.posPage) r.start = next;
  } else {
    r.backward = true;
    if (!e.m_stkWindowStarts.empty()) r.start = e.m_stkWindowStarts.back();
  }
  if (!r.start.posPage) r.start = first;
  r.start.nSlotIndex = std::max(r.start.nSlotIndex, 0);
  return r;
}

void RecordShownWindow(CSQLServer& e, const WindowRequest& r, bool reachedEnd) {
  if (r.backward) {
    if (!e.m_stkWindowStarts.empty()) e.m_stkWindowStarts.pop_back();
  } else if (r.paging && e.m_posShownPage) {
    e.m_stkWindowStarts.push_back(WindowStart{e.m_posShownPage, e.m_nShownSlotPos, e.m_nShownSlotIndex});
  }
  e.m_posShownPage = r.start.posPage;
  e.m_nShownSlotPos = 2 * (r.start.nSlotIndex + 1);
  e.m_nShownSlotIndex = r.start.nSlotIndex;
  e.m_bLastWindow = reachedEnd ? 1 : 0;
}
