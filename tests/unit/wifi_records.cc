// Growing, sorting and filtering the record arrays.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "wifi.h"

static known_networks *
known_of(const std::vector<std::pair<const char *, int>> &nets)
{
	auto *known = static_cast<known_networks *>(calloc(1, sizeof(known_networks)));
	for (const auto &[ssid, priority] : nets) {
		known_network net{};
		strlcpy(net.ssid, ssid, sizeof net.ssid);
		net.priority = priority;
		EXPECT_TRUE(known_networks_append(known, &net));
	}
	return known;
}

static scan_results *
scan_of(const std::vector<std::pair<const char *, int>> &results)
{
	auto *scan = static_cast<scan_results *>(calloc(1, sizeof(scan_results)));
	for (const auto &[ssid, signal] : results) {
		scan_result res{};
		strlcpy(res.ssid, ssid, sizeof res.ssid);
		res.signal = signal;
		EXPECT_TRUE(scan_results_append(scan, &res));
	}
	return scan;
}

template <typename T>
static std::vector<std::string>
ssids(const record_array<T> *a)
{
	std::vector<std::string> v;
	for (size_t i = 0; i < a->count; i++)
		v.push_back(a->items[i].ssid);
	return v;
}

TEST(wifi_records, append_doubles_the_storage_and_copies)
{
	auto *known = static_cast<known_networks *>(calloc(1, sizeof(known_networks)));
	std::vector<size_t> caps;
	for (int i = 0; i < 9; i++) {
		known_network net{};
		net.id = i;
		ASSERT_TRUE(known_networks_append(known, &net));
		caps.push_back(known->capacity);
	}
	EXPECT_EQ(caps, (std::vector<size_t>{ 1, 2, 4, 4, 8, 8, 8, 8, 16 }));
	ASSERT_EQ(known->count, 9u);
	for (int i = 0; i < 9; i++)
		EXPECT_EQ(known->items[i].id, i);
	known_networks_free(known);
}

TEST(wifi_records, append_that_cannot_grow_leaves_the_array)
{
	// A capacity whose doubling overflows: the append fails before any
	// allocation and nothing changes.
	known_network one{};
	known_networks known{};
	known.items = &one;
	known.count = known.capacity = SIZE_MAX / 2 + 1;
	EXPECT_FALSE(known_networks_append(&known, &one));
	EXPECT_EQ(known.items, &one);
	EXPECT_EQ(known.count, SIZE_MAX / 2 + 1);

	scan_result big{};
	scan_results scan{};
	scan.items = &big;
	scan.count = scan.capacity = SIZE_MAX / sizeof(scan_result);
	EXPECT_FALSE(scan_results_append(&scan, &big));
	EXPECT_EQ(scan.items, &big);
}

TEST(wifi_records, sort_highest_first)
{
	known_networks *known = known_of({ { "one", 1 }, { "five", 5 },
	    { "three", 3 }, { "minus", -2 } });
	known_networks_sort(known);
	EXPECT_EQ(ssids(known),
	    (std::vector<std::string>{ "five", "three", "one", "minus" }));
	known_networks_free(known);

	scan_results *scan = scan_of({ { "a", -70 }, { "b", -40 }, { "c", -90 } });
	scan_results_sort(scan);
	EXPECT_EQ(ssids(scan), (std::vector<std::string>{ "b", "a", "c" }));
	scan_results_free(scan);

	// Extreme keys compare without overflow.
	scan = scan_of({ { "low", INT_MIN }, { "high", INT_MAX }, { "zero", 0 } });
	scan_results_sort(scan);
	EXPECT_EQ(ssids(scan), (std::vector<std::string>{ "high", "zero", "low" }));
	scan_results_free(scan);

	known_networks empty{};
	known_networks_sort(&empty);
	EXPECT_EQ(empty.items, nullptr);
}

TEST(wifi_records, filter_keeps_matches_in_order)
{
	static const struct {
		const char *text;
		std::vector<std::string> kept;
	} cases[] = {
		{ "home", { "Home", "HOME-5G", "my home" } },
		{ "", { "Home", "HOME-5G", "office", "my home" } },
		{ "OFF", { "office" } },
		{ "nowhere", {} },
	};
	for (const auto &c : cases) {
		scan_results *scan = scan_of({ { "Home", -50 }, { "HOME-5G", -60 },
		    { "office", -70 }, { "my home", -80 } });
		size_t cap = scan->capacity;
		scan_results_filter(scan, c.text);
		EXPECT_EQ(ssids(scan), c.kept) << "text: " << c.text;
		EXPECT_EQ(scan->capacity, cap);
		scan_results_free(scan);
	}

	known_networks *known = known_of({ { "Home", 1 }, { "office", 2 },
	    { "HOME-5G", 3 } });
	known_networks_filter(known, "home");
	EXPECT_EQ(ssids(known), (std::vector<std::string>{ "Home", "HOME-5G" }));
	known_networks_free(known);
}

TEST(wifi_records, free_accepts_none)
{
	known_networks_free(nullptr);
	scan_results_free(nullptr);
	supplicant_status_free(nullptr);
}
