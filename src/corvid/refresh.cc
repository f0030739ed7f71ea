// The refreshes of the supplicant records.
#include <algorithm>

#include "refresh.h"
#include "term.h"

void
refresh_status(void)
{
	supplicant_status_free(app.status);
	if ((app.status = supplicant_status_fetch(app.ctrl)) == nullptr)
		fatalx("failed to retrieve wpa_supplicant status");
}

// Replaces one list: fetch, sort, filter by the section's search text, and
// keep the selection as a row number within the new count.
template <typename A>
static void
refresh_list(A *&list, A *(*fetch)(wpa_ctrl *), void (*release)(A *),
    void (*sort)(A *), void (*filter)(A *, const char *), table *t,
    const char *failure)
{
	release(list);
	if ((list = fetch(app.ctrl)) == nullptr)
		fatalx("%s", failure);
	sort(list);
	if (t->search[0] != '\0')
		filter(list, t->search);
	t->sel = list->count == 0 ? 0 : std::min(t->sel, list->count - 1);
}

void
refresh_known(void)
{
	refresh_list(app.known, known_networks_fetch, known_networks_free,
	    known_networks_sort, known_networks_filter, &app_table(SECTION_KNOWN),
	    "failed to retrieve known networks");
}

void
refresh_scan(void)
{
	refresh_list(app.scan, scan_results_fetch, scan_results_free,
	    scan_results_sort, scan_results_filter, &app_table(SECTION_SCAN),
	    "failed to retrieve scan results");
}

void
refresh_table(section_id s)
{
	if (s == SECTION_SCAN)
		refresh_scan();
	else
		refresh_known();
}
