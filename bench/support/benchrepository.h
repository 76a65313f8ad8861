#pragma once

#include <QString>

#include <functional>

// The benchmarks' large dnf repository: 10,000 packages under 8,000 names, the first 2,000
// names in two versions (1.0 and 1.1) and with AppStream data and an icon each; synthetic
// primary metadata registered with createrepo_c and modifyrepo_c.
namespace BenchRepository
{

constexpr int Packages = 10000;
constexpr int Applications = 2000;

// The name of package number i ("cvb-pkg00042"); the first Applications are applications.
QString name(int i);

// The release of each name's packages, by name number.
using Releases = std::function<int(int name)>;

// Builds the repository in directory/repo (scratch files beside it); every release 1.
bool build(const QString &directory);
// Registers a new primary in directory/repo, each name at its release: the repository
// changes as when new builds arrive.
bool replacePrimary(const QString &directory, const Releases &release);

} // namespace BenchRepository
