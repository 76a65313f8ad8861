#!/bin/sh
# test_packaging.sh SOURCE_DIR: builds the store's RPM from a source archive of the tree,
# installs it into a private root with rpm --root and checks that every file is where the
# store looks for it.
set -eu
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

version=$(sed -n 's/^Version: *//p' "$src/packaging/corvane.spec")
mkdir -p "$work/top/SOURCES"
tar -C "$src" --exclude=./.git --exclude=./build --exclude='./build-*' \
    --transform "s,^\.,corvane-$version," -czf "$work/top/SOURCES/corvane-$version.tar.gz" .

# Build requirements are Fedora package names, which this host's rpm database does not hold.
rpmbuild --quiet --define "_topdir $work/top" --define 'debug_package %{nil}' --nodeps \
    -bb "$src/packaging/corvane.spec" > "$work/rpmbuild.log" 2>&1 ||
    { tail -n 40 "$work/rpmbuild.log"; fail "rpmbuild"; }
package=$(ls "$work"/top/RPMS/x86_64/corvane-"$version"-*.rpm)

root=$work/root
/usr/bin/rpm --root "$root" --dbpath /var/lib/rpm --initdb
/usr/bin/rpm --root "$root" --dbpath /var/lib/rpm -i --nodeps --noscripts "$package" 2>/dev/null ||
    fail "rpm -i"

libdir=$(rpm --eval '%{_libdir}')
for file in /usr/bin/corvane /usr/bin/corvane-launcher \
    "$libdir/libcorvane.so.1" "$libdir/libmqaid.so.1" "$libdir/libvqs.so.1" \
    /opt/corvane/doc/client-config.ini /opt/corvane/db/server_software.db \
    /opt/corvane/db/software.db /usr/share/corvane/qm/qt_zh_CN.qm /usr/share/doc/help.pdf \
    /usr/share/applications/corvane.desktop /usr/share/metainfo/org.lumora.corvane.metainfo.xml \
    /usr/share/polkit-1/actions/org.lumora.corvane.policy /usr/share/pixmaps/corvane.png \
    /etc/polkit-1/rules.d/49-corvane-store.rules; do
    [ -f "$root$file" ] || fail "missing $file"
done
[ -d "$root/opt/corvane/icons" ] || fail "missing /opt/corvane/icons/"
# The key folder is root's and nobody else may write it: the store refuses it otherwise.
/usr/bin/rpm --root "$root" --dbpath /var/lib/rpm -qlv corvane | grep -q '^drwxr-xr-x .* root *root .* /etc/corvane/keys$' ||
    fail "/etc/corvane/keys is not a directory of root's, mode 0755"
[ -x "$root/usr/bin/corvane" ] || fail "corvane is not executable"

# The databases come with their tables; the store never creates them.
for table in softwares:server_software software:software loadmanage:software loadrecord:software; do
    name=${table%%:*}
    db=$root/opt/corvane/db/${table#*:}.db
    [ "$(sqlite3 "$db" "select count(*) from sqlite_master where type='table' and name='$name'")" = 1 ] ||
        fail "table $name missing in $db"
done

# Local edits to the configuration and the databases survive an update.
configs=$(/usr/bin/rpm --root "$root" --dbpath /var/lib/rpm -qc corvane)
for file in /opt/corvane/doc/client-config.ini /opt/corvane/db/server_software.db /opt/corvane/db/software.db; do
    echo "$configs" | grep -qx "$file" || fail "$file is not marked as configuration"
done

for binary in "$root/usr/bin/corvane" "$root$libdir/libcorvane.so.1"; do
    readelf -d "$binary" | grep -q 'NEEDED.*libmqaid\.so' || fail "$binary does not need libmqaid"
done
[ -n "$(/usr/bin/rpm -qp --requires "$package" 2>/dev/null | grep -E '^\(dnf or yum\)|^wget$')" ] ||
    fail "runtime requirements missing"

# The catalog server is a package of its own, a service reading its configuration file.
server=$(ls "$work"/top/RPMS/x86_64/corvane-catalog-server-"$version"-*.rpm) ||
    fail "no corvane-catalog-server package"
/usr/bin/rpm -qpl "$package" 2>/dev/null | grep -q catalog-server && fail "the store's package holds the server"
/usr/bin/rpm --root "$root" --dbpath /var/lib/rpm -i --nodeps --noscripts "$server" 2>/dev/null ||
    fail "rpm -i corvane-catalog-server"
for file in /usr/bin/corvane-catalog-server /usr/lib/systemd/system/corvane-catalog-server.service \
    /etc/corvane/catalog-server.conf /etc/corvane/catalog-overrides.conf; do
    [ -f "$root$file" ] || fail "missing $file"
done
unit=$root/usr/lib/systemd/system/corvane-catalog-server.service
grep -qx 'ExecStart=/usr/bin/corvane-catalog-server --server-config /etc/corvane/catalog-server.conf' "$unit" ||
    fail "the unit does not start the server on its configuration"
grep -qx 'User=corvane-catalog' "$unit" || fail "the service runs as root"
# Confined: systemd's own rating of the unit, and the unit as systemd would load it (the
# targets it names come from the host's systemd).
exposure=$(systemd-analyze security --offline=true "$unit" 2>&1 |
    sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
[ -n "$exposure" ] || fail "systemd-analyze security gave no rating"
awk -v e="$exposure" 'BEGIN { exit !(e <= 2.5) }' || fail "the unit's exposure is $exposure (over 2.5)"
cp -rn /usr/lib/systemd/system/. "$root/usr/lib/systemd/system/" 2>/dev/null || true
systemd-analyze verify --root="$root" corvane-catalog-server.service ||
    fail "systemd-analyze verify refuses the installed unit"
serverconfigs=$(/usr/bin/rpm --root "$root" --dbpath /var/lib/rpm -qc corvane-catalog-server)
for file in /etc/corvane/catalog-server.conf /etc/corvane/catalog-overrides.conf; do
    echo "$serverconfigs" | grep -qx "$file" || fail "$file is not marked as configuration"
done
/usr/bin/rpm -qp --requires "$server" 2>/dev/null | grep -q '^corvane = ' ||
    fail "the server does not require the store's libraries"

# The agent: a package of its own, its unit as systemd would load it and rates it.
agent=$(ls "$work"/top/RPMS/x86_64/corvane-agent-"$version"-*.rpm) || fail "no corvane-agent package"
/usr/bin/rpm --root "$root" --dbpath /var/lib/rpm -i --nodeps --noscripts "$agent" 2>/dev/null ||
    fail "rpm -i corvane-agent"
agentunit=$root/usr/lib/systemd/system/corvane-agent.service
[ -x "$root/usr/bin/corvane-agent" ] && [ -f "$agentunit" ] || fail "the agent's files are missing"
exposure=$(systemd-analyze security --offline=true "$agentunit" 2>&1 |
    sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 4.5) }' ||
    fail "the agent unit's exposure is $exposure (over 4.5)"
systemd-analyze verify --root="$root" corvane-agent.service ||
    fail "systemd-analyze verify refuses the agent's unit"
echo "1 passed, 0 failed"
