#include "Quelt/LWE/HomEvaluator.hpp"

#include "lwe/LWEHomEvaluatorImpl.hpp"

namespace Quelt::LWE {

HomEvaluator::HomEvaluator(const std::shared_ptr<ContextContent> &context)
    : impl_(std::make_shared<HomEvaluatorImpl>(context)) {}

void HomEvaluator::negate(const Ciphertext &ct, Ciphertext &out) const { impl_->negate(ct, out); }
void HomEvaluator::add(const Ciphertext &ct, const double &c, Ciphertext &out) const {
    impl_->add(ct, c, out);
}
void HomEvaluator::sub(const Ciphertext &ct, const double &c, Ciphertext &out) const {
    impl_->sub(ct, c, out);
}
void HomEvaluator::add(const Ciphertext &ct1, const Ciphertext &ct2, Ciphertext &out) const {
    impl_->add(ct1, ct2, out);
}
void HomEvaluator::sub(const Ciphertext &ct1, const Ciphertext &ct2, Ciphertext &out) const {
    impl_->sub(ct1, ct2, out);
}
void HomEvaluator::multInteger(const Ciphertext &ct, long n, Ciphertext &out) const {
    impl_->multInteger(ct, n, out);
}
void HomEvaluator::mult(const Ciphertext &ct, const double &c, Ciphertext &out) const {
    impl_->mult(ct, c, out);
}
void HomEvaluator::multWithoutRescale(const Ciphertext &ct, const double &c,
                                      Ciphertext &out) const {
    impl_->multWithoutRescale(ct, c, out);
}
void HomEvaluator::rescale(Ciphertext &ct) const { impl_->rescale(ct); }
void HomEvaluator::levelDown(const Ciphertext &ct, std::uint64_t target_level,
                             Ciphertext &out) const {
    impl_->levelDown(ct, target_level, out);
}
void HomEvaluator::levelDownOne(const Ciphertext &ct, Ciphertext &out) const {
    impl_->levelDownOne(ct, out);
}

} // namespace Quelt::LWE
