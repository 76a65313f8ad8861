// The store's polkit rule, run the way polkitd runs it: for each mode it may be set to, who
// gets the store without a password. node test_polkitrule.js RULES_FILE
"use strict";
const fs = require("fs");
const vm = require("vm");

const Result = { YES: "yes", NOT_HANDLED: "not handled" };
const store = "org.lumora.corvane.run";
// mode, action, local, active, in the group, what the rule answers
const cases = [
    ["off", store, true, true, true, Result.NOT_HANDLED],
    ["group", store, true, true, true, Result.YES],
    ["group", store, true, true, false, Result.NOT_HANDLED],
    ["group", store, false, true, true, Result.NOT_HANDLED],
    ["group", store, true, false, true, Result.NOT_HANDLED],
    ["group", "org.freedesktop.policykit.exec", true, true, true, Result.NOT_HANDLED],
    ["active", store, true, true, false, Result.YES],
    ["active", store, false, true, false, Result.NOT_HANDLED],
    ["active", store, true, false, false, Result.NOT_HANDLED],
    ["active", "org.freedesktop.packagekit.package-install", true, true, false, Result.NOT_HANDLED],
];

const shipped = fs.readFileSync(process.argv[2], "utf8");
if (!/var mode = "off";/.test(shipped)) {
    console.log("FAIL: the rule is not off as shipped");
    process.exit(1);
}
let failed = 0;
for (const [mode, id, local, active, member, expected] of cases) {
    const rules = [];
    const polkit = { Result, addRule: (rule) => rules.push(rule) };
    vm.runInNewContext(shipped.replace('var mode = "off";', `var mode = "${mode}";`), { polkit });
    const subject = { local, active, isInGroup: (name) => member && name === "corvane-users" };
    const answer = rules.length === 1 ? rules[0]({ id }, subject) : "no rule";
    if (answer !== expected) {
        console.log(`FAIL: mode ${mode}, ${id}, local ${local}, active ${active}, ` +
                    `member ${member}: ${answer}, not ${expected}`);
        failed++;
    }
}
console.log(failed ? `${failed} failed` : `${cases.length} passed`);
process.exit(failed ? 1 : 0);
