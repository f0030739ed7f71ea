// The notification list: texts shown at the top right, oldest first.
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "notify.h"
#include "term.h"

void
notification_expire(notification_list *list)
{
	notification *n = list->first;

	if (n == nullptr)
		return;
	list->first = n->next;
	if (n->next != nullptr)
		n->next->prev = &list->first;
	else
		list->last = &list->first;
	list->count--;
	free(n->text);
	free(n);
}

void
notify(notification_list *list, const char *text)
{
	auto *n = static_cast<notification *>(malloc(sizeof(notification)));

	if (n == nullptr)
		fatal("malloc");
	if ((n->text = strdup(text)) == nullptr) {
		free(n);
		fatal("strdup");
	}
	// A busy neighbourhood can report more per scan than expiry removes.
	if (list->count >= NOTIFICATIONS_MAX)
		notification_expire(list);
	n->next = nullptr;
	n->prev = list->last;
	*list->last = n;
	list->last = &n->next;
	list->count++;
}

void
notifyf(notification_list *list, const char *fmt, ...)
{
	struct sbuf *sb;
	va_list ap;

	if ((sb = sbuf_new_auto()) == nullptr)
		fatal("sbuf_new_auto()");
	va_start(ap, fmt);
	sbuf_vprintf(sb, fmt, ap);
	va_end(ap);
	if (sbuf_finish(sb) == -1)
		fatal("sbuf failed");
	notify(list, sbuf_data(sb));
	sbuf_delete(sb);
}

void
clear_notifications(notification_list *list)
{
	while (list->first != nullptr)
		notification_expire(list);
}

