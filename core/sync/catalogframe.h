#pragma once

#include "sync/catalogpackage.h"

#include <QString>
#include <QVector>

// What a frame asks the receiver to do, from its action attribute.
enum class FrameAction {
    JoinRequest,  // "join_requ", client to server
    JoinResponse, // "join_resp": logged, nothing else
    DataRequest,  // "data_requ", client to server
    DataResponse, // "data_resp": the whole catalog
    CatalogPart,  // "data_resp_cont": a further part of a whole catalog, stored as it comes
    AddPush,      // "data_add_push"
    UpdatePush,   // "data_update_push"
    DeletePush,   // "data_delete_push"
    Heartbeat,    // "heartbeat": signed news that the server is heard, nothing to store
    Other,        // anything else: a store keeps nothing of its packages
};

// One catalog frame: an XML document on one line, root frame with an action, its child datas
// with client and architecture, and one element per package below datas.
//
// A whole catalog too large for one frame travels as several frames, the first with the
// action "data_resp" and the others "data_resp_cont", each datas also carrying catalog (the
// same text in every part of one catalog, different for another catalog or another split),
// part (1 to parts) and parts. The receiver stores each part as it comes and deletes the rows
// the catalog lacks only once every part of one catalog has arrived, against all their names.
// A store that knows no parts takes the first for the whole catalog and stores the others
// quietly, as it always did. A catalog that fits one frame has no part attributes and is
// handled on its own.
class CatalogFrame
{
public:
    static const char *const Architecture;    // "x86_64", the only one the store keeps
    static const char *const ContinuedAction; // "data_resp_cont", the parts after the first

    // False with *error set to the parser's description when text is not exactly one
    // well-formed document (a line with two frames is refused as well).
    bool parse(const QString &text, QString *error);

    QString actionText() const { return m_action; }
    FrameAction action() const { return actionOf(m_action); }
    QString architecture() const { return m_architecture; }
    QString client() const { return m_client; }
    bool isForThisArchitecture() const;
    // A data_resp or data_resp_cont that says it is one part of a whole catalog. part() and
    // parts() are 0 when the attribute is missing or not a number in range; such a part never
    // completes.
    bool isCatalogPart() const;
    QString catalogId() const { return m_catalogId; }
    int part() const { return m_part; }
    int parts() const { return m_parts; }
    const QVector<CatalogPackage> &packages() const { return m_packages; }

    static FrameAction actionOf(const QString &text);
    // More parts than any catalog needs: a larger count is taken for a broken frame.
    static constexpr int MaxParts = 100000;

    // The two requests a client sends at start-up, with its own address.
    static QString joinRequest(const QString &client);
    static QString dataRequest(const QString &client);

    // A frame of the given packages on one line; empty attributes are left out.
    static QString compose(const QString &action, const QVector<CatalogPackage> &packages);
    // Part part of parts of the whole catalog catalogId (data_resp for the first).
    static QString composePart(const QString &catalogId, int part, int parts,
                               const QVector<CatalogPackage> &packages);
    // A frame that names its sender and carries no packages (requests, join_resp).
    static QString composeAddressed(const QString &action, const QString &client);
    // The bytes one package element adds to a composed frame.
    static QString packageElement(const QString &elementName, const CatalogPackage &package);
    // An attribute value between single quotes that keeps the frame on one line.
    static QString escapeAttribute(const QString &value);

private:
    QString m_action;
    QString m_architecture;
    QString m_client;
    QString m_catalogId;
    bool m_partAttributes = false;
    int m_part = 0;
    int m_parts = 0;
    QVector<CatalogPackage> m_packages;
};
