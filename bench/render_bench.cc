// The cost of composing one full frame: 80x34, 13 rows in each table drawn
// from 100 entries each, SSIDs mixing ASCII and double-width text, three
// notifications.  tools/bench.sh runs both benchmarks below and holds the
// median to its budget.
//
//	render_bench --benchmark_repetitions=20 --benchmark_report_aggregates_only=true
//
// BM_render_frame_fixed runs a fixed number of frames, for instruction
// counts: valgrind --tool=callgrind --toggle-collect='render_frame*'
//	render_bench --benchmark_filter=fixed
#include <benchmark/benchmark.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "state.h"
#include "term.h"
#include "notify.h"
#include "render.h"

static constexpr int ENTRIES = 100;
static constexpr int FIXED_FRAMES = 1000;

static const char *const ssid_names[] = {
	"HomeNet", "Café-Gäste", "東京ネット", "FRITZ!Box 7590 XY", "게스트",
	"eduroam", "Büro_5G", "无线网络-5G", "AndroidAP-4f2a",
	"a-rather-long-network-name-32-b",
};

static void
state_build(void)
{
	app_reset();
	app.winsize.ws_row = 34;
	app.winsize.ws_col = 80;
	layout_update();
	app.tables[SECTION_KNOWN].sel = 20;
	app.tables[SECTION_SCAN].sel = 50;
	app.section = SECTION_SCAN;

	static supplicant_status status;
	status.freq = 5180;
	status.wpa_state = const_cast<char *>("COMPLETED");
	status.ssid = const_cast<char *>("東京ネット");
	status.ip_address = const_cast<char *>("192.168.1.23");
	app.status = &status;

	static known_network known_items[ENTRIES];
	static scan_result scan_items[ENTRIES];
	static known_networks known = {known_items, ENTRIES, ENTRIES};
	static scan_results scan = {scan_items, ENTRIES, ENTRIES};
	for (int i = 0; i < ENTRIES; i++) {
		const char *name = ssid_names[i % std::size(ssid_names)];
		known_network *k = &known_items[i];
		k->id = i;
		k->priority = ENTRIES - i;
		k->scan_ssid = i % 7 == 0;
		k->security = static_cast<security_type>(i % 4);
		k->state = static_cast<network_state>(i % 3);
		snprintf(k->ssid, sizeof k->ssid, "%s", name);
		scan_result *s = &scan_items[i];
		s->freq = i % 2 ? 2412 + 5 * (i % 13) : 5180 + 20 * (i % 8);
		s->signal = -40 - i / 2;
		s->security = static_cast<security_type>(i % 4);
		snprintf(s->ssid, sizeof s->ssid, "%s", name);
	}
	app.known = &known;
	app.scan = &scan;

	notify(&app.notifications, "<3>CTRL-EVENT-SCAN-STARTED ");
	notify(&app.notifications, "<3>CTRL-EVENT-CONNECTED - Connection to "
	    "02:00:00:00:01:00 completed [id=3 id_str=]");
	notify(&app.notifications, "Starting scan...");
}

static void
frame(void)
{
	struct sbuf *sb = sbuf_new_auto();
	render_frame(sb);
	if (sbuf_finish(sb) != 0)
		abort();
	benchmark::DoNotOptimize(sbuf_data(sb));
	sbuf_delete(sb);
}

static void
BM_render_frame(benchmark::State &state)
{
	state_build();
	for (auto _ : state)
		frame();
}
BENCHMARK(BM_render_frame)->Unit(benchmark::kMicrosecond);

static void
BM_render_frame_fixed(benchmark::State &state)
{
	state_build();
	for (auto _ : state)
		frame();
}
BENCHMARK(BM_render_frame_fixed)->Iterations(FIXED_FRAMES)
    ->Unit(benchmark::kMicrosecond);

int
main(int argc, char **argv)
{
	if (setlocale(LC_ALL, "C.UTF-8") == nullptr)
		return 1;
	benchmark::Initialize(&argc, argv);
	if (benchmark::ReportUnrecognizedArguments(argc, argv))
		return 1;
	benchmark::RunSpecifiedBenchmarks();
	benchmark::Shutdown();
	return 0;
}
