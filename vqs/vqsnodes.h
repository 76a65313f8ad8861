#pragma once
/* The broker nodes a connection may use: the settings' url lists one or more, separated by
 * spaces or commas (the nodes of a cluster). Each desktop starts at a node chosen from its
 * address and account, so that desktops spread over the nodes, and moves on to the next node
 * that answers when its own is lost. */

#include "vqsconfig.h"
#include "vqslink.h"

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

struct vqs_nodes {
    const struct vqs_settings *from; /* the settings the list was taken from */
    size_t count;
    size_t current;          /* the node tried first at the next attempt */
    int moving;              /* its node was lost: the next one opened is said */
    struct vqs_settings one; /* from, with url the node being tried */
};

/* Starts over with the nodes of s, at the node of this desktop. */
void vqs_nodes_reset(struct vqs_nodes *nodes, const struct vqs_settings *s);

/* Opens link to the current node or, when it does not answer, to the next ones in turn, once
 * each; as vqs_link_open, why and reply of the last node tried. The node opened becomes the
 * current one; after a loss, a node other than the one the process used last is said on
 * standard error. */
int vqs_nodes_open(struct vqs_nodes *nodes, struct vqs_link *link, amqp_rpc_reply_t *reply,
                   char *why, size_t whysize);

/* The working connection to the current node was lost: the next attempt starts at the next. */
void vqs_nodes_lost(struct vqs_nodes *nodes);

#ifdef __cplusplus
}
#endif
